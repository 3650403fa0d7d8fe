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

// text cut to at most limit bytes, never inside a UTF-8 sequence, with "…"
// after it when something was cut.
std::string cut_short(std::string_view text, size_t limit);

// Length of the well-formed UTF-8 sequence at the start of bytes, or 0.
size_t utf8_sequence(std::string_view bytes);

} // namespace tarn
