// Device bytes to valid UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Copies bytes, replacing each maximal ill-formed subpart (the longest prefix
// of a well-formed sequence, or one bad byte) with U+FFFD.
std::string replace_invalid_utf8(std::string_view bytes);

// The same in place; text that is already valid is left untouched.
void repair_utf8(std::string &text);

// Length of the well-formed UTF-8 sequence at the start of bytes, or 0.
size_t utf8_sequence(std::string_view bytes);

} // namespace tarn
