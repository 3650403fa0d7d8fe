// "show cgnat summary" lines to the metric map.
#include "LINUX/collection/catalogue.hpp"
#include "LINUX/collection/collection.hpp"
#include "LINUX/collection/text.hpp"

#include <array>

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

// Values the device marks as approximate ("~1234") lose every tilde.
void clean_tildes(MetricMap &data) {
  for (auto &entry : data.entries()) {
    auto *text = std::get_if<std::string>(&entry.second);
    if (text != nullptr && !text->empty() && text->front() == '~')
      std::erase(*text, '~');
  }
}

void store_label_rows(std::string_view line, std::string_view last,
                      MetricMap &data) {
  for (const LabelRow &row : chaves_summary) {
    if (!contains(line, row.label))
      continue;
    if (row.key == TABLE_FULL_KEY)
      data.store(row.key, to_lower(last) == TABLE_NOT_FULL ? 0 : 1);
    else
      data.store(row.key, std::string(last));
  }
}

} // namespace

MetricMap parse_summary(const std::vector<std::string> &lines_summary) {
  MetricMap data;
  std::array<bool, chaves_summary_1.size()> flags{}; // chaves_summary_1
  for (const std::string &line : lines_summary) {
    const std::string_view last = last_token(line);
    if (last.empty())
      continue; // white space only: no value to take
    store_label_rows(line, last, data);

    if (contains(line, chaves_summary_1[public_section].header)) {
      flags[public_section] = true;
      continue;
    }
    if (flags[public_section] && contains(to_lower(line), PUBLIC_USED_WORD)) {
      data.store(PUBLIC_ADDRESS_USED, std::string(last));
      flags[public_section] = false;
    }
    if (contains(line, chaves_summary_1[subscriber_section].header)) {
      flags[subscriber_section] = true;
      continue;
    }
    if (flags[subscriber_section]) {
      if (contains(line, SUBSCRIBER_USED_WORD))
        data.store(SUBSCRIBER_ADDRESS_USED, std::string(last));
      if (contains(line, SUBSCRIBER_MAX_WORD)) {
        data.store(SUBSCRIBER_ADDRESS_MAX, std::string(last));
        flags[subscriber_section] = false;
      }
    }
    clean_tildes(data);
  }
  return data;
}

} // namespace cgnat
