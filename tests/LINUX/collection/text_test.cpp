#include "LINUX/collection/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines as_strings(const std::vector<std::string_view> &views) {
  return Lines(views.begin(), views.end());
}

struct SplitCase {
  std::string name;
  std::string text;
  Lines lines;
};
void PrintTo(const SplitCase &c, std::ostream *os) { *os << c.name; }

class SplitLines : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitLines, CutsAtEveryBoundaryKind) {
  EXPECT_EQ(as_strings(cgnat::split_lines(GetParam().text)), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, SplitLines,
    testing::Values(
        SplitCase{"lf", "a\nb", {"a", "b"}},
        SplitCase{"cr", "a\rb", {"a", "b"}},
        SplitCase{"crlf_is_one", "a\r\nb", {"a", "b"}},
        SplitCase{"lfcr_is_two", "a\n\rb", {"a", "", "b"}},
        SplitCase{"cr_cr_lf", "a\r\r\nb", {"a", "", "b"}},
        SplitCase{"vt", "a\vb", {"a", "b"}},
        SplitCase{"ff", "a\fb", {"a", "b"}},
        SplitCase{"file_separator", "a\x1cz", {"a", "z"}},
        SplitCase{"group_separator", "a\x1dz", {"a", "z"}},
        SplitCase{"record_separator", "a\x1ez", {"a", "z"}},
        SplitCase{"unit_separator_is_not", "a\x1fz", {"a\x1fz"}},
        SplitCase{"nel", "a\u0085b", {"a", "b"}},
        SplitCase{"line_separator", "a\u2028b", {"a", "b"}},
        SplitCase{"paragraph_separator", "a\u2029b", {"a", "b"}},
        SplitCase{"neighbour_of_separator_is_not", "a\u2027b", {"a\u2027b"}},
        SplitCase{"no_break_space_is_not", "a\u00a0b", {"a\u00a0b"}},
        SplitCase{"boundary_at_end", "a\n", {"a"}},
        SplitCase{"crlf_at_end", "a\r\n", {"a"}},
        SplitCase{"two_at_end", "a\n\n", {"a", ""}},
        SplitCase{"only_boundary", "\n", {""}},
        SplitCase{"leading_boundary", "\na", {"", "a"}},
        SplitCase{"empty_text", "", {}},
        SplitCase{
            "nul_is_not", std::string("a\0b", 3), {std::string("a\0b", 3)}}),
    [](const auto &info) { return info.param.name; });

struct EscapeCase {
  std::string name;
  std::string line;
  std::string cleaned;
};
void PrintTo(const EscapeCase &c, std::ostream *os) { *os << c.name; }

class RemoveEscapes : public testing::TestWithParam<EscapeCase> {};

TEST_P(RemoveEscapes, DeletesExactlyTheSequences) {
  EXPECT_EQ(cgnat::remove_escapes(GetParam().line), GetParam().cleaned);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, RemoveEscapes,
    testing::Values(
        EscapeCase{"colour_wrap", "\x1b[0;32mno\x1b[0;0m", "no"},
        EscapeCase{"cursor_show", "\x1b[?25hA", "A"},
        EscapeCase{"erase_line", "A\x1b[K", "A"},
        EscapeCase{"equals_parameter", "\x1b[=3hA", "A"},
        EscapeCase{"adjacent", "\x1b[1m\x1b[2mX", "X"},
        EscapeCase{"one_pass_leaves_outer", "\x1b[\x1b[0;0mA", "\x1b[A"},
        EscapeCase{"greater_than_kept", "\x1b[>5c", "\x1b[>5c"},
        EscapeCase{"space_before_letter_kept", "\x1b[1 q", "\x1b[1 q"},
        EscapeCase{"lone_esc_kept", "a\x1b", "a\x1b"},
        EscapeCase{"esc_without_bracket_kept", "\x1b(B", "\x1b(B"},
        EscapeCase{"unfinished_kept", "\x1b[12", "\x1b[12"},
        EscapeCase{"non_ascii_final_kept", "\x1b[1é", "\x1b[1é"},
        EscapeCase{"esc_then_sequence", "\x1b\x1b[1mA",
                   "\x1b"
                   "A"},
        EscapeCase{"no_escape", "plain", "plain"}),
    [](const auto &info) { return info.param.name; });

TEST(WhiteSpace, IsExactlyTheListedSet) {
  const std::vector<std::pair<char32_t, char32_t>> ranges{
      {0x09, 0x0D},     {0x1C, 0x20},     {0x85, 0x85},     {0xA0, 0xA0},
      {0x1680, 0x1680}, {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F},
      {0x205F, 0x205F}, {0x3000, 0x3000}};
  for (char32_t c = 0; c < 0x10000; ++c) {
    bool listed = false;
    for (const auto &[low, high] : ranges)
      listed = listed || (c >= low && c <= high);
    EXPECT_EQ(cgnat::is_white_space(c), listed) << "U+" << std::hex << +c;
  }
}

struct TokenCase {
  std::string name;
  std::string text;
  Lines tokens;
  std::string last;
};
void PrintTo(const TokenCase &c, std::ostream *os) { *os << c.name; }

class Tokens : public testing::TestWithParam<TokenCase> {};

TEST_P(Tokens, SplitAtRunsOfWhiteSpace) {
  EXPECT_EQ(as_strings(cgnat::tokens(GetParam().text)), GetParam().tokens);
  EXPECT_EQ(cgnat::last_token(GetParam().text), GetParam().last);
}

INSTANTIATE_TEST_SUITE_P(
    Words, Tokens,
    testing::Values(TokenCase{"runs", "  a  b\tc  ", {"a", "b", "c"}, "c"},
                    TokenCase{"unicode_spaces",
                              "a\u00a0b\u2003c\u3000d",
                              {"a", "b", "c", "d"},
                              "d"},
                    TokenCase{"nul_inside_token",
                              std::string("a\0b c", 5),
                              {std::string("a\0b", 3), "c"},
                              "c"},
                    TokenCase{"multibyte_last", "é ü", {"é", "ü"}, "ü"},
                    TokenCase{
                        "trailing_unicode_space", "a b\u00a0", {"a", "b"}, "b"},
                    TokenCase{"one_token", "abc", {"abc"}, "abc"},
                    TokenCase{"none", " \u3000 ", {}, ""},
                    TokenCase{"empty", "", {}, ""}),
    [](const auto &info) { return info.param.name; });

struct CaseMappingCase {
  std::string name;
  std::string text;
  std::string lower;
  std::string upper;
};
void PrintTo(const CaseMappingCase &c, std::ostream *os) { *os << c.name; }

class CaseMapping : public testing::TestWithParam<CaseMappingCase> {};

TEST_P(CaseMapping, IsTheFullUnicodeMapping) {
  EXPECT_EQ(cgnat::to_lower(GetParam().text), GetParam().lower);
  EXPECT_EQ(cgnat::to_upper(GetParam().text), GetParam().upper);
}

INSTANTIATE_TEST_SUITE_P(
    Mappings, CaseMapping,
    testing::Values(
        CaseMappingCase{"ascii", "Ab_1 z", "ab_1 z", "AB_1 Z"},
        CaseMappingCase{"dotted_capital_i_lowers_to_two", "İ", "i\u0307", "İ"},
        CaseMappingCase{"final_sigma", "ΟΔΟΣ", "οδος", "ΟΔΟΣ"},
        CaseMappingCase{"sharp_s_uppers_to_two", "straße", "straße", "STRASSE"},
        CaseMappingCase{"kelvin_sign", "\u212a", "k", "\u212a"},
        CaseMappingCase{"nul_kept", std::string("A\0", 2),
                        std::string("a\0", 2), std::string("A\0", 2)},
        CaseMappingCase{"empty", "", "", ""}),
    [](const auto &info) { return info.param.name; });

struct DecodeCase {
  std::string name;
  std::string bytes;
  std::string text;
};
void PrintTo(const DecodeCase &c, std::ostream *os) { *os << c.name; }

class DecodeUtf8 : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeUtf8, ReplacesEachIllFormedSequence) {
  EXPECT_EQ(cgnat::decode_utf8(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, DecodeUtf8,
    testing::Values(
        DecodeCase{"ascii", "abc", "abc"},
        DecodeCase{"valid_multibyte", "é\u3000😀", "é\u3000😀"},
        DecodeCase{"nul_kept", std::string("a\0b", 3), std::string("a\0b", 3)},
        DecodeCase{"invalid_byte",
                   "a\xff"
                   "b",
                   "a\ufffd"
                   "b"},
        DecodeCase{"truncated_at_end", "a\xc3", "a\ufffd"},
        DecodeCase{"truncated_three_byte_is_one",
                   "\xe2\x80"
                   "x",
                   "\ufffd"
                   "x"},
        DecodeCase{"surrogate_is_three", "\xed\xa0\x80", "\ufffd\ufffd\ufffd"},
        DecodeCase{"overlong_is_two", "\xc0\xaf", "\ufffd\ufffd"},
        DecodeCase{"stray_continuation", "\x80", "\ufffd"},
        DecodeCase{"beyond_unicode", "\xf4\x90\x80\x80",
                   "\ufffd\ufffd\ufffd\ufffd"}),
    [](const auto &info) { return info.param.name; });

} // namespace
