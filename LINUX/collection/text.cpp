#include "LINUX/collection/text.hpp"

#include "LINUX/collection/icu_loader.hpp"

// Header-only macros: decoding never needs the library itself.
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace cgnat {
namespace {

constexpr char ESC = '\x1b';
constexpr char32_t REPLACEMENT = 0xFFFD;

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
}

// The code point at pos and its length in bytes; an ill-formed sequence
// reads as U+FFFD so a stray byte can never run past the end.
char32_t code_point_at(std::string_view text, size_t pos, size_t &length) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
  size_t next = pos;
  UChar32 c;
  U8_NEXT(bytes, next, text.size(), c);
  length = next - pos;
  return c < 0 ? REPLACEMENT : static_cast<char32_t>(c);
}

bool is_ascii_white_space(unsigned char c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
}

// Bytes taken by the white-space character at pos, 0 when there is none.
size_t white_space_length_at(std::string_view text, size_t pos) {
  const auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80)
    return is_ascii_white_space(byte) ? 1 : 0;
  size_t length;
  return is_white_space(code_point_at(text, pos, length)) ? length : 0;
}

// Bytes taken by the white-space character that ends text[..end].
size_t white_space_length_before(std::string_view text, size_t begin,
                                 size_t end) {
  const auto byte = static_cast<unsigned char>(text[end - 1]);
  if (byte < 0x80)
    return is_ascii_white_space(byte) ? 1 : 0;
  size_t start = end - 1;
  while (start > begin && end - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
    --start;
  size_t length;
  const char32_t c = code_point_at(text, start, length);
  return start + length == end && is_white_space(c) ? length : 0;
}

bool is_escape_parameter(char c) {
  return (c >= '0' && c <= '9') || c == ';' || c == '?' || c == '=';
}

bool is_ascii_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Length of the escape sequence starting at pos, 0 when none starts there.
size_t escape_length_at(std::string_view line, size_t pos) {
  if (line[pos] != ESC || pos + 1 >= line.size() || line[pos + 1] != '[')
    return 0;
  size_t end = pos + 2;
  while (end < line.size() && is_escape_parameter(line[end]))
    ++end;
  return end < line.size() && is_ascii_letter(line[end]) ? end + 1 - pos : 0;
}

} // namespace

std::string decode_utf8(std::string_view bytes) {
  if (is_ascii(bytes))
    return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  for (size_t pos = 0; pos < bytes.size();) {
    size_t length;
    const char32_t c = code_point_at(bytes, pos, length);
    if (c == REPLACEMENT) {
      char buffer[U8_MAX_LENGTH];
      int32_t size = 0;
      U8_APPEND_UNSAFE(buffer, size, c);
      out.append(buffer, size);
    } else {
      out.append(bytes.substr(pos, length));
    }
    pos += length;
  }
  return out;
}

size_t boundary_length_at(std::string_view text, size_t pos) {
  switch (static_cast<unsigned char>(text[pos])) {
  case '\r':
    return pos + 1 < text.size() && text[pos + 1] == '\n' ? 2 : 1;
  case '\n':
  case '\v':
  case '\f':
  case 0x1C:
  case 0x1D:
  case 0x1E:
    return 1;
  case 0xC2: // NEL
    return text.substr(pos, 2) == "\xC2\x85" ? 2 : 0;
  case 0xE2: // U+2028, U+2029
    return text.substr(pos, 3) == "\xE2\x80\xA8" ||
                   text.substr(pos, 3) == "\xE2\x80\xA9"
               ? 3
               : 0;
  default:
    return 0;
  }
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for_each_line(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

std::string remove_escapes(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  size_t copied = 0;
  for (size_t pos = line.find(ESC); pos != std::string_view::npos;
       pos = line.find(ESC, pos)) {
    const size_t length = escape_length_at(line, pos);
    if (length == 0) {
      ++pos;
      continue;
    }
    out.append(line.substr(copied, pos - copied));
    pos += length;
    copied = pos;
  }
  out.append(line.substr(copied));
  return out;
}

std::string remove_control_chars(std::string line) {
  std::erase_if(line, [](char c) { return c == '\0' || c == '\b'; });
  return line;
}

bool is_white_space(char32_t c) {
  if (c < 0x80)
    return is_ascii_white_space(static_cast<unsigned char>(c));
  return c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end) {
    const size_t length = white_space_length_at(text, begin);
    if (length == 0)
      break;
    begin += length;
  }
  while (end > begin) {
    const size_t length = white_space_length_before(text, begin, end);
    if (length == 0)
      break;
    end -= length;
  }
  return text.substr(begin, end - begin);
}

std::vector<std::string_view> tokens(std::string_view text) {
  std::vector<std::string_view> out;
  size_t start = 0;
  bool in_token = false;
  for (size_t pos = 0; pos < text.size();) {
    const size_t space = white_space_length_at(text, pos);
    if (space == 0) {
      if (!in_token)
        start = pos;
      in_token = true;
      ++pos;
      continue;
    }
    if (in_token)
      out.push_back(text.substr(start, pos - start));
    in_token = false;
    pos += space;
  }
  if (in_token)
    out.push_back(text.substr(start));
  return out;
}

std::string_view last_token(std::string_view text) {
  const std::string_view trimmed = trim(text);
  const size_t base = static_cast<size_t>(trimmed.data() - text.data());
  size_t start = trimmed.size();
  while (start > 0 && white_space_length_before(trimmed, 0, start) == 0) {
    // Step back over one whole character.
    --start;
    while (start > 0 &&
           (static_cast<unsigned char>(trimmed[start]) & 0xC0) == 0x80)
      --start;
  }
  return text.substr(base + start, trimmed.size() - start);
}

std::string to_lower(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char &c : out)
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    return out;
  }
  // Ill-formed bytes read as U+FFFD, as everywhere else.
  return icu_to_lower(decode_utf8(text));
}

std::string to_upper(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char &c : out)
      if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    return out;
  }
  return icu_to_upper(decode_utf8(text));
}

} // namespace cgnat
