#include "LINUX/collection/collection.hpp"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<cgnat::MetricMap::Entry>;

struct Case {
  std::string name;
  std::vector<std::string> lines;
  Entries data_erros;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class ErrorParsing : public testing::TestWithParam<Case> {};

TEST_P(ErrorParsing, FillsDataErros) {
  EXPECT_EQ(cgnat::parse_errors(GetParam().lines).entries(),
            GetParam().data_erros);
}

const Entries MAPPING_5_7{{"mapping_table_full_in", "5"},
                          {"mapping_table_full_out", "7"}};

INSTANTIATE_TEST_SUITE_P(
    Lines, ErrorParsing,
    testing::Values(
        Case{"empty", {}, {}},
        Case{"in_then_out", {"Mapping table full 5 7"}, MAPPING_5_7},
        Case{"case_blind", {"MAPPING TABLE FULL 5 7"}, MAPPING_5_7},
        Case{"label_inside_name",
             {"IPv4 Mapping table full (drops) 5 7"},
             MAPPING_5_7},
        Case{
            "runs_of_spaces", {"Mapping   table \u3000 full 5 7"}, MAPPING_5_7},
        Case{"too_few_for_name", {"Mapping table full 5"}, {}},
        Case{"two_tokens", {"Errors 3"}, {}},
        Case{"white_space_only", {" "}, {}},
        Case{"counters_as_read",
             {"Mapping table full - -"},
             {{"mapping_table_full_in", "-"}, {"mapping_table_full_out", "-"}}},
        Case{"header_line_ignored", {"CGNAT errors In Out"}, {}},
        Case{"later_line_wins_first_place",
             {"Mapping table full 1 2", "Session table full 3 4",
              "Mapping table full 5 6"},
             {{"mapping_table_full_in", "5"},
              {"mapping_table_full_out", "6"},
              {"session_table_full_in", "3"},
              {"session_table_full_out", "4"}}},
        Case{"earlier_row_wins",
             {"Mapping table full Subscriber table full 1 2"},
             {{"subscriber_table_full_in", "1"},
              {"subscriber_table_full_out", "2"}}},
        Case{"dest_then_session",
             {"Dest session table full 3 4", "Session table full 1 2"},
             {{"dest_session_table_full_in", "3"},
              {"dest_session_table_full_out", "4"},
              {"session_table_full_in", "1"},
              {"session_table_full_out", "2"}}},
        Case{"session_then_dest",
             {"Session table full 1 2", "Dest session table full 3 4"},
             {{"session_table_full_in", "1"},
              {"session_table_full_out", "2"},
              {"dest_session_table_full_in", "3"},
              {"dest_session_table_full_out", "4"}}},
        Case{"destination_session_not_session",
             {"Failed to allocate destination session 8 9"},
             {{"failed_to_allocate_destination_session_in", "8"},
              {"failed_to_allocate_destination_session_out", "9"}}},
        Case{"dotted_capital_i_lowers_to_two", {"MAPPİNG TABLE FULL 1 2"}, {}},
        Case{"kelvin_sign_lowers_to_k",
             {"SUBSCRIBER PORT-BLOC\u212a LIMIT 1 2"},
             {{"subscriber_port_block_limit_in", "1"},
              {"subscriber_port_block_limit_out", "2"}}},
        Case{"no_tilde_clean_up",
             {"Mapping table full ~1 ~2"},
             {{"mapping_table_full_in", "~1"},
              {"mapping_table_full_out", "~2"}}},
        Case{"white_space_ends_kept_by_normalisation",
             {" Mapping table full 5 7 "},
             MAPPING_5_7}),
    [](const auto &info) { return info.param.name; });

} // namespace
