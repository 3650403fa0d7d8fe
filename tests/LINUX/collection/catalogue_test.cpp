#include "LINUX/collection/catalogue.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using cgnat::Document;
using cgnat::PUBLISHED_ITEMS;

size_t count_rows(Document document) {
  return std::count_if(
      PUBLISHED_ITEMS.begin(), PUBLISHED_ITEMS.end(),
      [&](const auto &row) { return row.document == document; });
}

TEST(Catalogue, PublishesFourteenSummaryThenTwentyTwoErrorItems) {
  EXPECT_EQ(count_rows(Document::summary), 14u);
  EXPECT_EQ(count_rows(Document::errors), 22u);
  EXPECT_TRUE(std::is_partitioned(
      PUBLISHED_ITEMS.begin(), PUBLISHED_ITEMS.end(),
      [](const auto &row) { return row.document == Document::summary; }));
}

TEST(Catalogue, ItemKeysAndMacrosAreUnique) {
  std::set<std::string_view> item_keys, macros;
  for (const auto &row : PUBLISHED_ITEMS) {
    EXPECT_TRUE(item_keys.insert(row.item_key).second) << row.item_key;
    EXPECT_TRUE(macros.insert(row.macro).second) << row.macro;
  }
}

// Every error metric but the two unpublished ones, inbound then outbound.
TEST(Catalogue, ErrorItemsFollowTheLabelTable) {
  std::vector<std::string> expected;
  for (const auto &row : cgnat::chaves_errors) {
    if (row.key == "subscriber_table_full" ||
        row.key == "dest_session_table_full")
      continue;
    expected.push_back(std::string(row.key) + "_in");
    expected.push_back(std::string(row.key) + "_out");
  }
  std::vector<std::string> published;
  for (const auto &row : PUBLISHED_ITEMS)
    if (row.document == Document::errors)
      published.emplace_back(row.metric_key);
  EXPECT_EQ(published, expected);
}

TEST(Catalogue, MacroOfLongErrorKeyIsNotShortened) {
  EXPECT_EQ(cgnat::discovery_macro(
                "no_free_port_blocks_on_selected_public_address_in"),
            "{#NO_FREE_PORT_BLOCKS_ON_SELECTED_PUBLIC_ADDRESS_IN}");
}

struct Row {
  std::string name;
  cgnat::PublishedItem item;
};
void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

class PublishedRow : public testing::TestWithParam<Row> {};

TEST_P(PublishedRow, MacroIsDerivedFromMetricKey) {
  EXPECT_EQ(cgnat::discovery_macro(GetParam().item.metric_key),
            GetParam().item.macro);
}

std::vector<Row> published_rows() {
  std::vector<Row> rows;
  for (const auto &item : PUBLISHED_ITEMS)
    rows.push_back({std::string(item.item_key), item});
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Items, PublishedRow,
                         testing::ValuesIn(published_rows()),
                         [](const auto &info) { return info.param.name; });

} // namespace
