#include "LINUX/collection/collection.hpp"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;
const std::string NUL(1, '\0');

struct Case {
  std::string name;
  std::string text;
  Lines summary; // lines_summary for this text
  Lines errors;  // lines_errors for this text
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class Normalisation : public testing::TestWithParam<Case> {};

TEST_P(Normalisation, SummaryRule) {
  EXPECT_EQ(cgnat::normalise_summary(GetParam().text), GetParam().summary);
}

TEST_P(Normalisation, ErrorRule) {
  EXPECT_EQ(cgnat::normalise_errors(GetParam().text), GetParam().errors);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Normalisation,
    testing::Values(
        Case{"empty_text", "", {}, {}},
        Case{"blank_lines_dropped", "\n \t\r\n\u3000\na\n", {"a"}, {"a"}},
        Case{"escape_only_line_dropped", " \x1b[0m \x1b[K\nb", {"b"}, {"b"}},
        Case{"colour_wrap_stored_bare",
             "\x1b[0;32m  no  \x1b[0;0m",
             {"no"},
             {"no"}},
        Case{"inner_escape_only_once",
             "\x1b[\x1b[0;0mA",
             {"\x1b[A"},
             {"\x1b[A"}},
        Case{"kept_sequence_stays",
             "\x1b[>5c x",
             {"\x1b[>5c x"},
             {"\x1b[>5c x"}},
        Case{"letter_backspace", " a\b ", {"a\b"}, {"a"}},
        Case{"lone_nul", " " + NUL + " ", {NUL}, {}},
        Case{"word_space_backspace", "word \b", {"word \b"}, {"word "}},
        Case{"trim_before_control_delete",
             NUL + " " + NUL,
             {NUL + " " + NUL},
             {" "}},
        Case{"cr_splits_line", "abc\rdef", {"abc", "def"}, {"abc", "def"}},
        Case{"unicode_white_space_trimmed",
             "\u3000\u00a0\u2003\x1c\x1f"
             "a\u202f\u205f\u1680",
             {"a"},
             {"a"}},
        Case{"esc_and_zero_width_space_not_white",
             " \x1b\u200b ",
             {"\x1b\u200b"},
             {"\x1b\u200b"}},
        Case{"inside_space_kept", "  a   b  ", {"a   b"}, {"a   b"}},
        Case{"unicode_boundaries",
             "a\u2028b\u0085c\u2029",
             {"a", "b", "c"},
             {"a", "b", "c"}},
        Case{"order_kept", "z\ny\nx", {"z", "y", "x"}, {"z", "y", "x"}}),
    [](const auto &info) { return info.param.name; });

} // namespace
