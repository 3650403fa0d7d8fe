// The SSH port as given on the command line.
#pragma once

#include <string>

namespace tarn {

// 1..65535 from decimal digits only; std::invalid_argument naming the text
// and the host otherwise.
int parse_port(const std::string &text, const std::string &host);

} // namespace tarn
