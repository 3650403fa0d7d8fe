#include "tarnlibrary/ssh_library/utf8.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

#define FFFD "\xEF\xBF\xBD"

struct Case {
  std::string name;
  std::string bytes;
  std::string text;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class Utf8 : public testing::TestWithParam<Case> {};

TEST_P(Utf8, ReplacesEachMaximalSubpart) {
  EXPECT_EQ(tarn::replace_invalid_utf8(GetParam().bytes), GetParam().text);
}

// In place, valid text is kept as is and invalid text repaired the same way,
// also behind a long valid prefix.
TEST_P(Utf8, RepairsInPlaceAlike) {
  std::string text = GetParam().bytes;
  tarn::repair_utf8(text);
  EXPECT_EQ(text, GetParam().text);
  const std::string prefix = "S\xC3\xA3o Paulo " + std::string(300, 'x');
  std::string longer = prefix + GetParam().bytes;
  tarn::repair_utf8(longer);
  EXPECT_EQ(longer, prefix + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8,
    testing::Values(
        Case{"ascii_and_controls", "a\r\n\033[0m\0b"s, "a\r\n\033[0m\0b"s},
        Case{"valid_two_three_four", "S\xC3\xA3o \xE2\x82\xAC \xF0\x9F\x98\x80",
             "S\xC3\xA3o \xE2\x82\xAC \xF0\x9F\x98\x80"},
        Case{"lone_continuation",
             "a\x80"
             "b",
             "a" FFFD "b"},
        Case{"bad_leads_each_one", "\xC0\xC1\xF5\xFF", FFFD FFFD FFFD FFFD},
        Case{"overlong_two_bytes", "\xC0\xAF", FFFD FFFD},
        Case{"overlong_three_bytes", "\xE0\x80\xAF", FFFD FFFD FFFD},
        Case{"surrogate", "\xED\xA0\x80", FFFD FFFD FFFD},
        Case{"above_max", "\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},
        Case{"truncated_three_is_one",
             "\xE2\x82"
             "x",
             FFFD "x"},
        Case{"truncated_four_is_one",
             "\xF0\x9F\x98"
             "x",
             FFFD "x"},
        Case{"truncated_at_end", "ok\xE2\x82", "ok" FFFD},
        Case{"lead_then_lead", "\xC3\xC3\xA9", FFFD "\xC3\xA9"},
        Case{"max_code_point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        Case{"last_before_surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
        Case{"empty", "", ""}),
    [](const auto &info) { return info.param.name; });

} // namespace
