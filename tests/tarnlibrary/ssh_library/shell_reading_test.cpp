#include "tarnlibrary/ssh_library/shell_reading.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using namespace std::string_literals;

struct LineCase {
  std::string name;
  std::string raw;
  std::string visible;
};
void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }
class VisibleLine : public testing::TestWithParam<LineCase> {};

TEST_P(VisibleLine, DropsSequencesControlsAndTrailingSpace) {
  EXPECT_EQ(tarn::visible_line(GetParam().raw), GetParam().visible);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, VisibleLine,
    testing::Values(LineCase{"plain_prompt", "cgnat$ ", "cgnat$"},
                    LineCase{"colours", "\033[1;32mcgnat\033[0m$\033[0m ",
                             "cgnat$"},
                    LineCase{"title_bel", "\033]0;cgnat\007cgnat$ ", "cgnat$"},
                    LineCase{"title_st", "\033]0;x\033\\cgnat$ ", "cgnat$"},
                    LineCase{"charset", "\033(Bcgnat$", "cgnat$"},
                    LineCase{"cr_nul_tab", "\rcg\0nat$\t \r"s, "cgnat$"},
                    LineCase{"cut_sequence", "cgnat$\033[", "cgnat$"}),
    [](const auto &info) { return info.param.name; });

// Terminal edits that decide what the last line shows.
INSTANTIATE_TEST_SUITE_P(
    Edits, VisibleLine,
    testing::Values(LineCase{"redrawn", "dev$ \r\033[Kdev$ ", "dev$"},
                    LineCase{"erase_whole", "junk\r\033[2Kdev$", "dev$"},
                    LineCase{"backspace", "dev$ x\b \b", "dev$"},
                    LineCase{"cursor_left", "dev$ ab\033[2D\033[K", "dev$"},
                    LineCase{"bracketed_paste", "\033[?2004hdev$ ", "dev$"},
                    LineCase{"overwrite", "abcdef\rdev$", "dev$ef"}),
    [](const auto &info) { return info.param.name; });

// Prompt runs: the same prompt again with only blanks or line ends between.
struct RunCase {
  std::string name;
  std::string bytes;
  size_t count;
  std::string prompt;
};
void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }
class PromptRuns : public testing::TestWithParam<RunCase> {};

TEST_P(PromptRuns, CountsRepeatsOnlyWithNothingBetween) {
  tarn::ShellStream stream;
  stream.end_data = "$";
  tarn::take_all(stream, GetParam().bytes);
  tarn::PromptRun run = tarn::current_run(stream);
  EXPECT_EQ(run.count, GetParam().count);
  if (run.count > 0) {
    EXPECT_EQ(run.prompt, GetParam().prompt);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PromptRuns,
    testing::Values(
        RunCase{"echoed_enter", "dev$ \r\ndev$ ", 2, "dev$"},
        RunCase{"no_echo_same_line", "dev$ dev$ ", 2, "dev$"},
        RunCase{"no_blank", "dev$dev$", 2, "dev$"},
        RunCase{"blank_line_between", "dev$ \r\n\r\ndev$ ", 2, "dev$"},
        RunCase{"message_between", "dev$ \r\nwall\r\ndev$ ", 1, "dev$"},
        RunCase{"banner_dollars", "Fee US$ 5 in $\r\ndev$ ", 1, "dev$"},
        RunCase{"box_lines", "$$$$\r\n$ hi $\r\n$$$$", 1, "$$$$"},
        RunCase{"bare_prompt_no_echo", "$ $ ", 2, "$"},
        RunCase{"not_a_prompt", "dev$ \r\nready", 0, ""},
        // Drawn again over itself: the same prompt still.
        RunCase{"erased_and_redrawn", "dev$ \r\033[Kdev$ ", 1, "dev$"},
        RunCase{"paste_codes_cr",
                "\033[?2004hdev$ \033[?2004l\r\033[?2004hdev$ ", 1, "dev$"},
        RunCase{"cursor_back_draws_nothing", "dev$ \033[K\r\033[5C", 1, "dev$"},
        RunCase{"three_on_one_line", "\r\ndev$ dev$ dev$ ", 3, "dev$"},
        RunCase{"dollar_border", "$$$$$$", 1, "$$$$$$"},
        RunCase{"overwritten_by_output", "dev$ \rActive 5$", 1, "Active 5$"}),
    [](const auto &info) { return info.param.name; });

} // namespace
