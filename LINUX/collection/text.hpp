// Character-level text helpers. Texts are UTF-8 in std::string; every rule
// here works on characters, never on bytes.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cgnat {

// Bytes that can start a line boundary; any other byte is skipped at once.
inline constexpr std::array<bool, 256> BOUNDARY_LEAD = [] {
  std::array<bool, 256> lead{};
  for (unsigned char byte :
       {'\n', '\r', '\v', '\f', '\x1c', '\x1d', '\x1e', '\xc2', '\xe2'})
    lead[byte] = true;
  return lead;
}();

// Bytes taken by the line boundary at pos, 0 when there is none.
size_t boundary_length_at(std::string_view text, size_t pos);

// Calls each(line) for every line split_lines gives, in order, without
// holding them all.
template <class Each> void for_each_line(std::string_view text, Each &&each) {
  const size_t size = text.size();
  size_t start = 0;
  for (size_t pos = 0; pos < size;) {
    while (pos < size && !BOUNDARY_LEAD[static_cast<unsigned char>(text[pos])])
      ++pos;
    if (pos == size)
      break;
    const size_t boundary = boundary_length_at(text, pos);
    if (boundary == 0) {
      ++pos;
      continue;
    }
    each(text.substr(start, pos - start));
    pos += boundary;
    start = pos;
  }
  if (start < size)
    each(text.substr(start));
}

// Device bytes to valid UTF-8: each ill-formed sequence becomes U+FFFD.
std::string decode_utf8(std::string_view bytes);

// Lines between boundaries: LF, CR, CR LF (one), VT, FF, 0x1C-0x1E, NEL,
// U+2028, U+2029. A boundary at the end adds no empty line; empty text has
// no lines. The views point into text.
std::vector<std::string_view> split_lines(std::string_view text);

// Deletes every ESC [ [0-9;?=]* letter, in one left-to-right pass.
std::string remove_escapes(std::string_view line);

// Deletes every NUL and backspace.
std::string remove_control_chars(std::string line);

// The white-space set used by trimming and by tokens.
bool is_white_space(char32_t c);

// Without white space at either end.
std::string_view trim(std::string_view text);

// Runs of non-white-space characters, in order.
std::vector<std::string_view> tokens(std::string_view text);

// The last token, or empty when the text has none.
std::string_view last_token(std::string_view text);

// Full Unicode case mappings (root locale): one character may become two.
std::string to_lower(std::string_view text);
std::string to_upper(std::string_view text);

} // namespace cgnat
