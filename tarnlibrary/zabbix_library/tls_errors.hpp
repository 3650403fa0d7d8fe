// OpenSSL's error queue as text for our messages.
#pragma once

#include <string>

namespace tarn {

// The reason of the latest OpenSSL error, emptying the queue; "erro
// desconhecido" when it holds none.
std::string openssl_reason();

} // namespace tarn
