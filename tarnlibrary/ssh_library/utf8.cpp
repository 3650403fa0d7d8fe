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

// Length of the well-formed sequence at bytes[at]; 0 when it is ill-formed,
// with `good` set to the bytes of its maximal ill-formed subpart.
size_t sequence_at(std::string_view bytes, size_t at, size_t &good) {
  unsigned char low, high;
  const int length =
      sequence_length(static_cast<unsigned char>(bytes[at]), low, high);
  int valid = length == 0 ? 0 : 1;
  while (valid > 0 && valid < length && at + valid < bytes.size()) {
    auto next = static_cast<unsigned char>(bytes[at + valid]);
    if (next < low || next > high)
      break;
    low = 0x80;
    high = 0xBF;
    ++valid;
  }
  if (length > 0 && valid == length)
    return static_cast<size_t>(length);
  good = valid == 0 ? 1 : static_cast<size_t>(valid);
  return 0;
}

size_t ascii_run_end(std::string_view bytes, size_t at) {
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80)
    ++at;
  return at;
}

// Where the first ill-formed sequence starts; size() when there is none.
size_t first_invalid(std::string_view bytes) {
  size_t at = 0;
  while ((at = ascii_run_end(bytes, at)) < bytes.size()) {
    size_t bad;
    const size_t length = sequence_at(bytes, at, bad);
    if (length == 0)
      return at;
    at += length;
  }
  return at;
}

} // namespace

std::string replace_invalid_utf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t ascii = ascii_run_end(bytes, at);
    text.append(bytes.substr(at, ascii - at));
    at = ascii;
    if (at == bytes.size())
      break;
    size_t bad;
    const size_t length = sequence_at(bytes, at, bad);
    if (length > 0) {
      text.append(bytes.substr(at, length));
      at += length;
    } else {
      text.append(REPLACEMENT);
      at += bad;
    }
  }
  return text;
}

std::string cut_short(std::string_view text, size_t limit) {
  if (text.size() <= limit)
    return std::string(text);
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut; // not inside a UTF-8 sequence
  return std::string(text.substr(0, cut)) + "…";
}

size_t utf8_sequence(std::string_view bytes) {
  size_t good = 0;
  return bytes.empty() ? 0 : sequence_at(bytes, 0, good);
}

void repair_utf8(std::string &text) {
  const size_t bad = first_invalid(text);
  if (bad == text.size())
    return; // the usual case: no copy at all
  std::string repaired = text.substr(0, bad);
  repaired.append(replace_invalid_utf8(std::string_view(text).substr(bad)));
  text = std::move(repaired);
}

} // namespace tarn
