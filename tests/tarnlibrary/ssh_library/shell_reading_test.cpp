#include "tarnlibrary/ssh_library/shell_reading.hpp"
#include "tarnlibrary/ssh_library/ssh_port.hpp"

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

// Chunks as they arrive after login; expected steps per chunk.
struct PromptCase {
  std::string name;
  std::vector<std::string> chunks;
  std::vector<tarn::PromptStep> steps;
  std::string prompt;
};
void PrintTo(const PromptCase &c, std::ostream *os) { *os << c.name; }
class PromptFinding : public testing::TestWithParam<PromptCase> {};

using enum tarn::PromptStep;

TEST_P(PromptFinding, ConfirmsTheLastLine) {
  tarn::PromptFinder finder;
  finder.end_data = "$";
  const PromptCase &c = GetParam();
  ASSERT_EQ(c.chunks.size(), c.steps.size());
  for (size_t i = 0; i < c.chunks.size(); ++i)
    EXPECT_EQ(tarn::feed(finder, c.chunks[i]), c.steps[i]) << "chunk " << i;
  EXPECT_EQ(finder.prompt, c.prompt);
}

INSTANTIATE_TEST_SUITE_P(
    Logins, PromptFinding,
    testing::Values(
        PromptCase{"banner_then_prompt",
                   {"Welcome\r\n", "dev$ ", "\r\ndev$ "},
                   {Read, SendEmptyLine, Found},
                   "dev$"},
        PromptCase{"prompt_split_over_reads",
                   {"Welcome\r\nde", "v$ ", "\r\n", "dev$ "},
                   {Read, SendEmptyLine, Read, Found},
                   "dev$"},
        PromptCase{"dollar_inside_banner_lines",
                   {"Fee US$ 5\r\nPaid in $\r\n", "dev$ ", "\r\ndev$ "},
                   {Read, SendEmptyLine, Found},
                   "dev$"},
        // A banner line ending in "$" arrives alone: it becomes a candidate,
        // the real prompt replaces it, and the answer to every empty line
        // is awaited so none is left over for the first command.
        PromptCase{
            "banner_line_taken_then_replaced",
            {"Balance due in $", "\r\n\r\ndev$ ", "\r\ndev$ ", "\r\ndev$ "},
            {SendEmptyLine, SendEmptyLine, Read, Found},
            "dev$"},
        PromptCase{"coloured_prompt",
                   {"\033[1;32mdev\033[0m$ ", "\r\n\033[1;32mdev\033[0m$ "},
                   {SendEmptyLine, Found},
                   "dev$"},
        PromptCase{"echo_without_prompt_yet",
                   {"dev$ ", "\r\n", "dev$ "},
                   {SendEmptyLine, Read, Found},
                   "dev$"}),
    [](const auto &info) { return info.param.name; });

struct CommandCase {
  std::string name;
  std::vector<std::string> chunks; // the last one completes the command
  std::string output;
};
void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.name; }
class CommandReading : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandReading, ReturnsWhatIsBetweenEchoAndPrompt) {
  tarn::CommandRead read;
  read.command = "show x";
  read.prompt = "dev$";
  const CommandCase &c = GetParam();
  for (size_t i = 0; i + 1 < c.chunks.size(); ++i)
    EXPECT_FALSE(tarn::feed(read, c.chunks[i])) << "chunk " << i;
  ASSERT_TRUE(tarn::feed(read, c.chunks.back()));
  EXPECT_EQ(tarn::take_command_output(read), c.output);
  EXPECT_TRUE(read.buffer.bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, CommandReading,
    testing::Values(
        CommandCase{"echo_output_prompt",
                    {"show x\r\nline 1\r\nline 2\r\ndev$ "},
                    "line 1\r\nline 2\r\n"},
        CommandCase{"empty_output", {"show x\r\n", "dev$ "}, ""},
        CommandCase{
            "echo_split", {"sho", "w x\r", "\nA\r\n", "dev", "$ "}, "A\r\n"},
        CommandCase{"dollar_inside_lines",
                    {"show x\r\ncost $\r\n", "dev$ is fine\r\n", "dev$ "},
                    "cost $\r\ndev$ is fine\r\n"},
        CommandCase{"other_prompt_like_line",
                    {"show x\r\nroot$ ", "\r\ndev$ "},
                    "root$ \r\n"},
        CommandCase{"no_echo", {"A\r\n", "dev$ "}, "A\r\n"},
        CommandCase{"no_echo_no_output", {"dev$ "}, ""}),
    [](const auto &info) { return info.param.name; });

struct PortCase {
  std::string name;
  std::string text;
  int port; // 0: refused
};
void PrintTo(const PortCase &c, std::ostream *os) { *os << c.name; }
class PortText : public testing::TestWithParam<PortCase> {};

TEST_P(PortText, AcceptsOnlyOneTo65535) {
  const PortCase &c = GetParam();
  if (c.port != 0) {
    EXPECT_EQ(tarn::parse_port(c.text, "h"), c.port);
    return;
  }
  try {
    tarn::parse_port(c.text, "10.0.0.9");
    FAIL() << "accepted";
  } catch (const std::invalid_argument &error) {
    EXPECT_NE(std::string(error.what()).find("\"" + c.text + "\""),
              std::string::npos);
    EXPECT_NE(std::string(error.what()).find("10.0.0.9"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortText,
    testing::Values(PortCase{"standard", "22", 22}, PortCase{"lowest", "1", 1},
                    PortCase{"highest", "65535", 65535},
                    PortCase{"leading_zero", "022", 22},
                    PortCase{"trailing_letter", "22x", 0},
                    PortCase{"zero", "0", 0}, PortCase{"too_big", "65536", 0},
                    PortCase{"huge", "99999999999999999999", 0},
                    PortCase{"empty", "", 0}, PortCase{"sign", "+22", 0},
                    PortCase{"space", " 22", 0}),
    [](const auto &info) { return info.param.name; });

} // namespace
