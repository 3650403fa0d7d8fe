// Discovery maps as a technician reads them: {'{#KEY}': 'text', '{#N}': 0}.
#include "LINUX/debug_report/debug_report.hpp"

#include "LINUX/collection/icu_loader.hpp"

#include <unicode/utf8.h> // header-only decoding

#include <cstdint>
#include <cstdio>

namespace cgnat {
namespace {

bool is_printable(UChar32 c) {
  if (c < 0x80) // ASCII needs no library: only controls are unprintable
    return c >= 0x20 && c < 0x7F;
  switch (icu_char_type(static_cast<char32_t>(c))) {
  case U_CONTROL_CHAR:
  case U_FORMAT_CHAR:
  case U_SURROGATE:
  case U_PRIVATE_USE_CHAR:
  case U_UNASSIGNED:
  case U_LINE_SEPARATOR:
  case U_PARAGRAPH_SEPARATOR:
  case U_SPACE_SEPARATOR:
    return false;
  default:
    return true;
  }
}

void append_escape(std::string &out, UChar32 c) {
  char buffer[16];
  if (c <= 0xFF)
    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
  else if (c <= 0xFFFF)
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
  else
    std::snprintf(buffer, sizeof buffer, "\\U%08x", static_cast<unsigned>(c));
  out.append(buffer);
}

std::string display_text(std::string_view text) {
  const bool double_quoted = text.find('\'') != std::string_view::npos &&
                             text.find('"') == std::string_view::npos;
  const char quote = double_quoted ? '"' : '\'';
  std::string out(1, quote);
  const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    UChar32 c;
    U8_NEXT(bytes, pos, text.size(), c);
    const bool ill_formed = c < 0; // never from decoded device text
    if (ill_formed)
      c = 0xFFFD;
    if (c == '\\' || c == quote) {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == '\t') {
      out.append("\\t");
    } else if (c == '\n') {
      out.append("\\n");
    } else if (c == '\r') {
      out.append("\\r");
    } else if (!is_printable(c)) {
      append_escape(out, c);
    } else if (ill_formed) {
      out.append("\xEF\xBF\xBD"); // U+FFFD
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
  out.push_back(quote);
  return out;
}

std::string display_value(const MetricValue &value) {
  if (const auto *number = std::get_if<int>(&value))
    return std::to_string(*number);
  return display_text(std::get<std::string>(value));
}

} // namespace

std::string display_form(const MetricMap &map) {
  std::string out = "{";
  for (const auto &[key, value] : map.entries()) {
    if (out.size() > 1)
      out.append(", ");
    out.append(display_text(key)).append(": ").append(display_value(value));
  }
  out.push_back('}');
  return out;
}

} // namespace cgnat
