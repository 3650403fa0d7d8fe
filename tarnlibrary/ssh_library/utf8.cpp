#include "tarnlibrary/ssh_library/utf8.hpp"

namespace tarn {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// Range of the second byte allowed after a lead byte; the later bytes are
// always 80..BF. Returns the sequence length, 0 for a byte that cannot lead.
int sequence_length(unsigned char lead, unsigned char &low,
                    unsigned char &high) {
  low = 0x80;
  high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF)
    return 2;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0)
      low = 0xA0; // no overlong forms
    if (lead == 0xED)
      high = 0x9F; // no surrogates
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0)
      low = 0x90;
    if (lead == 0xF4)
      high = 0x8F; // nothing above U+10FFFF
    return 4;
  }
  return 0;
}

} // namespace

std::string replace_invalid_utf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    size_t ascii = at;
    while (ascii < bytes.size() &&
           static_cast<unsigned char>(bytes[ascii]) < 0x80)
      ++ascii;
    text.append(bytes.substr(at, ascii - at));
    at = ascii;
    if (at == bytes.size())
      break;
    unsigned char low, high;
    int length =
        sequence_length(static_cast<unsigned char>(bytes[at]), low, high);
    int good = length == 0 ? 0 : 1;
    while (good > 0 && good < length && at + good < bytes.size()) {
      auto next = static_cast<unsigned char>(bytes[at + good]);
      if (next < low || next > high)
        break;
      low = 0x80;
      high = 0xBF;
      ++good;
    }
    if (length > 0 && good == length) {
      text.append(bytes.substr(at, length));
      at += length;
    } else {
      text.append(REPLACEMENT);
      at += good == 0 ? 1 : good;
    }
  }
  return text;
}

} // namespace tarn
