#include "LINUX/debug_report/debug_report.hpp"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<cgnat::MetricMap::Entry>;

struct Case {
  std::string name;
  Entries map;
  std::string shown;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class DisplayForm : public testing::TestWithParam<Case> {};

TEST_P(DisplayForm, QuotesAndEscapes) {
  cgnat::MetricMap map;
  for (const auto &[key, value] : GetParam().map)
    map.store(key, value);
  EXPECT_EQ(cgnat::display_form(map), GetParam().shown);
}

// A one-entry map showing text as the value.
Case value(std::string name, std::string text, std::string shown) {
  return {std::move(name), {{"k", std::move(text)}}, "{'k': " + shown + "}"};
}

INSTANTIATE_TEST_SUITE_P(
    Maps, DisplayForm,
    testing::Values(
        Case{"empty_map", {}, "{}"},
        Case{"two_metrics",
             {{"{#ACTIVE_SESSIONS}", "1234"}, {"{#TABLE_FULL}", 0}},
             "{'{#ACTIVE_SESSIONS}': '1234', '{#TABLE_FULL}': 0}"},
        Case{"integer_one", {{"{#TABLE_FULL}", 1}}, "{'{#TABLE_FULL}': 1}"},
        Case{"key_is_quoted_too", {{"it's", "x"}}, "{\"it's\": 'x'}"}),
    [](const auto &info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Quoting, DisplayForm,
    testing::Values(value("plain", "abc", "'abc'"),
                    value("empty_text", "", "''"),
                    value("single_quote_uses_double", "it's", "\"it's\""),
                    value("double_quote_only", "say \"x\"", "'say \"x\"'"),
                    value("both_quotes", "it's \"x\"", "'it\\'s \"x\"'"),
                    value("double_quoted_keeps_double_escape_free", "a'b\\c",
                          "\"a'b\\\\c\""),
                    value("backslash", "a\\b", "'a\\\\b'")),
    [](const auto &info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Escapes, DisplayForm,
    testing::Values(value("tab_lf_cr", "\t\n\r", "'\\t\\n\\r'"),
                    value("nul", std::string(1, '\0'), "'\\x00'"),
                    value("backspace_and_esc", "\b\x1b", "'\\x08\\x1b'"),
                    value("delete", "\x7f", "'\\x7f'"),
                    value("nel", "\u0085", "'\\x85'"),
                    value("no_break_space", "\u00a0", "'\\xa0'"),
                    value("space_is_printable", " a ", "' a '"),
                    value("accented_as_is", "conferência", "'conferência'"),
                    value("zero_width_space", "\u200b", "'\\u200b'"),
                    value("line_separator", "\u2028", "'\\u2028'"),
                    value("ideographic_space", "\u3000", "'\\u3000'"),
                    value("private_use", "\ue000", "'\\ue000'"),
                    value("unassigned", "\u0378", "'\\u0378'"),
                    value("astral_private_use", "\U000f0000", "'\\U000f0000'"),
                    value("astral_format", "\U000e0001", "'\\U000e0001'"),
                    value("emoji_as_is", "😀", "'😀'"),
                    value("replacement_as_is", "\ufffd", "'\ufffd'"),
                    value("combining_mark_as_is", "i\u0307", "'i\u0307'")),
    [](const auto &info) { return info.param.name; });

} // namespace
