#include "LINUX/collection/collection.hpp"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<cgnat::MetricMap::Entry>;

struct Case {
  std::string name;
  std::vector<std::string> lines;
  Entries data;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class SummaryParsing : public testing::TestWithParam<Case> {};

TEST_P(SummaryParsing, FillsData) {
  EXPECT_EQ(cgnat::parse_summary(GetParam().lines).entries(), GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, SummaryParsing,
    testing::Values(
        Case{"empty", {}, {}},
        Case{"label_value",
             {"Active sessions 1234"},
             {{"active_sessions", "1234"}}},
        Case{"labels_are_case_sensitive", {"active sessions 1234"}, {}},
        Case{"table_full_no", {"Table full: no"}, {{"table_full", 0}}},
        Case{"table_full_NO", {"Table full NO"}, {{"table_full", 0}}},
        Case{"table_full_No", {"Table full No"}, {{"table_full", 0}}},
        Case{"table_full_yes", {"Table full: yes"}, {{"table_full", 1}}},
        Case{"table_full_number", {"Table full 3"}, {{"table_full", 1}}},
        Case{"table_full_bare", {"Table full"}, {{"table_full", 1}}},
        Case{"table_full_not_exactly_no",
             {"Table full none"},
             {{"table_full", 1}}},
        Case{"two_labels_one_line",
             {"Translated packets and bytes 77"},
             {{"translated_packets", "77"}, {"bytes", "77"}}},
        Case{"bytes_inside_a_word", {"Kilobytesx 9"}, {{"bytes", "9"}}},
        Case{"later_store_keeps_place",
             {"Active sessions 1", "Sessions created 2", "Active sessions 3"},
             {{"active_sessions", "3"}, {"sessions_created", "2"}}},
        Case{"value_is_last_token_as_is",
             {"CGNAT pool exhausted 1.5e3"},
             {{"cgnat_pool", "1.5e3"}}},
        Case{"unicode_white_space_before_value",
             {"Active sessions\u3000\u00a042"},
             {{"active_sessions", "42"}}}),
    [](const auto &info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Sections, SummaryParsing,
    testing::Values(
        Case{"public_used",
             {"Public address mapping table", "Total 100", "Used 40", "Used 7"},
             {{"public_address_used", "40"}}},
        Case{"public_unused_ends_section",
             {"Public address mapping table", "Unused 60", "Used 9"},
             {{"public_address_used", "60"}}},
        Case{"public_used_any_case",
             {"Public address mapping table", "USED 4"},
             {{"public_address_used", "4"}}},
        Case{"used_outside_sections", {"Used 7", "Max 9"}, {}},
        Case{"start_line_not_counted",
             {"Public address mapping table used 3"},
             {}},
        Case{"start_twice_stays_set",
             {"Public address mapping table", "Public address mapping table",
              "Used 3"},
             {{"public_address_used", "3"}}},
        Case{"subscriber_used_then_max",
             {"Subscriber address table", "Used 30", "Max 64", "Used 1"},
             {{"subscriber_address_used", "30"},
              {"subscriber_address_max", "64"}}},
        Case{"subscriber_max_before_used",
             {"Subscriber address table", "Max 64", "Used 30"},
             {{"subscriber_address_max", "64"}}},
        Case{"subscriber_words_case_sensitive",
             {"Subscriber address table", "used 5", "MAX 6"},
             {}},
        Case{"subscriber_unused_is_not_used",
             {"Subscriber address table", "Unused 8"},
             {}},
        Case{"both_flags_one_used_line",
             {"Public address mapping table", "Subscriber address table",
              "Used 5"},
             {{"public_address_used", "5"}, {"subscriber_address_used", "5"}}},
        Case{"used_and_max_on_one_line",
             {"Subscriber address table", "Used Max 9"},
             {{"subscriber_address_used", "9"},
              {"subscriber_address_max", "9"}}}),
    [](const auto &info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Tildes, SummaryParsing,
    testing::Values(Case{"leading_tilde",
                         {"Active sessions ~1234"},
                         {{"active_sessions", "1234"}}},
                    Case{"every_tilde",
                         {"Sessions created ~1~2"},
                         {{"sessions_created", "12"}}},
                    Case{"inner_tilde_kept",
                         {"Sessions created 1~2"},
                         {{"sessions_created", "1~2"}}},
                    Case{"start_line_value_waits",
                         {"Public address mapping table bytes ~7"},
                         {{"bytes", "~7"}}},
                    Case{"start_line_value_cleaned_next_line",
                         {"Public address mapping table bytes ~7", "Total 1"},
                         {{"bytes", "7"}}},
                    Case{"start_line_value_cleaned_by_plain_line",
                         {"Subscriber address table bytes ~9", "filler 1"},
                         {{"bytes", "9"}}},
                    Case{"lower_case_used_in_public_section",
                         {"Public address mapping table", "unused 60"},
                         {{"public_address_used", "60"}}},
                    Case{"section_value_cleaned",
                         {"Subscriber address table", "Used ~3"},
                         {{"subscriber_address_used", "3"}}}),
    [](const auto &info) { return info.param.name; });

} // namespace
