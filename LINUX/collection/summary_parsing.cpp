// "show cgnat summary" lines to the metric map.
#include "LINUX/collection/catalogue.hpp"
#include "LINUX/collection/collection.hpp"
#include "LINUX/collection/text.hpp"

#include <array>
#include <cstdint>

namespace cgnat {
namespace {

// Words the device prints inside its two sections and in "Table full".
constexpr std::string_view PUBLIC_USED_WORD = "used"; // any case
constexpr std::string_view SUBSCRIBER_USED_WORD = "Used";
constexpr std::string_view SUBSCRIBER_MAX_WORD = "Max";
constexpr std::string_view TABLE_NOT_FULL = "no"; // any case

enum Section : size_t { public_section = 0, subscriber_section = 1 };

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The set of byte values in a text: a part with a byte the line lacks cannot
// be in it, which rules out almost every label on almost every line before
// any search.
struct ByteSet {
  std::array<uint64_t, 4> bits{};

  constexpr ByteSet() = default;
  constexpr explicit ByteSet(std::string_view text) {
    for (char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      bits[byte >> 6] |= uint64_t{1} << (byte & 63);
    }
  }
  constexpr bool has_all(const ByteSet &part) const {
    return ((part.bits[0] & ~bits[0]) | (part.bits[1] & ~bits[1]) |
            (part.bits[2] & ~bits[2]) | (part.bits[3] & ~bits[3])) == 0;
  }
};

// A line with the set of its bytes, for exact substring tests.
struct Line {
  std::string_view text;
  ByteSet bytes;

  explicit Line(std::string_view line) : text(line), bytes(line) {}
  bool contains(std::string_view part, const ByteSet &part_bytes) const {
    return bytes.has_all(part_bytes) && cgnat::contains(text, part);
  }
};

constexpr auto LABEL_BYTES = [] {
  std::array<ByteSet, chaves_summary.size()> sets{};
  for (size_t row = 0; row < chaves_summary.size(); ++row)
    sets[row] = ByteSet(chaves_summary[row].label);
  return sets;
}();
constexpr std::array<ByteSet, chaves_summary_1.size()> HEADER_BYTES{
    ByteSet(chaves_summary_1[public_section].header),
    ByteSet(chaves_summary_1[subscriber_section].header)};
constexpr ByteSet USED_BYTES(SUBSCRIBER_USED_WORD);
constexpr ByteSet MAX_BYTES(SUBSCRIBER_MAX_WORD);

// First bytes of every label, header and section word: a line with none of
// them can match nothing, so most filler lines cost one short scan.
constexpr auto LEAD_BYTES = [] {
  std::array<bool, 256> lead{};
  auto mark = [&](std::string_view part) {
    lead[static_cast<unsigned char>(part.front())] = true;
  };
  for (const LabelRow &row : chaves_summary)
    mark(row.label);
  for (const SectionFlag &flag : chaves_summary_1)
    mark(flag.header);
  mark(SUBSCRIBER_USED_WORD);
  mark(SUBSCRIBER_MAX_WORD);
  return lead;
}();

bool has_lead_byte(std::string_view text) {
  for (char c : text)
    if (LEAD_BYTES[static_cast<unsigned char>(c)])
      return true;
  return false;
}

// Values the device marks as approximate ("~1234") lose every tilde. A value
// once cleaned has none left, so only a map with new values needs a pass.
void clean_tildes(MetricMap &data) {
  for (auto &entry : data.entries()) {
    auto *text = std::get_if<std::string>(&entry.second);
    if (text != nullptr && !text->empty() && text->front() == '~')
      std::erase(*text, '~');
  }
}

// True when it stored anything.
bool store_label_rows(const Line &line, std::string_view last,
                      MetricMap &data) {
  bool stored = false;
  for (size_t index = 0; index < chaves_summary.size(); ++index) {
    const LabelRow &row = chaves_summary[index];
    if (!line.contains(row.label, LABEL_BYTES[index]))
      continue;
    stored = true;
    if (row.key == TABLE_FULL_KEY)
      data.store(row.key, to_lower(last) == TABLE_NOT_FULL ? 0 : 1);
    else
      data.store(row.key, std::string(last));
  }
  return stored;
}

} // namespace

MetricMap parse_summary(const std::vector<std::string> &lines_summary) {
  MetricMap data;
  std::array<bool, chaves_summary_1.size()> flags{}; // chaves_summary_1
  bool unclean = false; // values stored since the last tilde pass
  for (const std::string &text : lines_summary) {
    const std::string_view last = last_token(text);
    if (last.empty())
      continue; // white space only: no value to take
    // The public section's word is matched in any case: no shortcut then.
    if (!flags[public_section] && !has_lead_byte(text)) {
      if (unclean)
        clean_tildes(data);
      unclean = false;
      continue;
    }
    const Line line(text);
    unclean |= store_label_rows(line, last, data);

    if (line.contains(chaves_summary_1[public_section].header,
                      HEADER_BYTES[public_section])) {
      flags[public_section] = true;
      continue;
    }
    if (flags[public_section] && contains(to_lower(text), PUBLIC_USED_WORD)) {
      data.store(PUBLIC_ADDRESS_USED, std::string(last));
      unclean = true;
      flags[public_section] = false;
    }
    if (line.contains(chaves_summary_1[subscriber_section].header,
                      HEADER_BYTES[subscriber_section])) {
      flags[subscriber_section] = true;
      continue;
    }
    if (flags[subscriber_section]) {
      if (line.contains(SUBSCRIBER_USED_WORD, USED_BYTES)) {
        data.store(SUBSCRIBER_ADDRESS_USED, std::string(last));
        unclean = true;
      }
      if (line.contains(SUBSCRIBER_MAX_WORD, MAX_BYTES)) {
        data.store(SUBSCRIBER_ADDRESS_MAX, std::string(last));
        unclean = true;
        flags[subscriber_section] = false;
      }
    }
    if (unclean)
      clean_tildes(data);
    unclean = false;
  }
  return data;
}

} // namespace cgnat
