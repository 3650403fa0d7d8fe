// The simulated device on a pipe: paging, its command line and the bytes
// of each terminal behaviour, as the SSH tests and the benchmark rely on
// them; the terminal's own echo on a real terminal too.
#include "tests/support/shell_recording.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

namespace {

// The device on pipes, with what it has written so far.
struct Device {
  testing_support::PipedDevice piped;
  std::string seen;

  explicit Device(const std::vector<std::string> &settings) : piped(settings) {}
  void send(const std::string &text) { piped.send(text); }
  // Reads until `mark` appears after what was read before; returns the
  // bytes up to and including it.
  std::string until(const std::string &mark) {
    size_t from_here = seen.size();
    std::string more;
    while (seen.find(mark, from_here) == std::string::npos) {
      if (!piped.read_some(more, 10'000))
        throw std::runtime_error("device silent; waiting for " + mark);
      seen += more;
    }
    size_t end = seen.find(mark, from_here) + mark.size();
    return seen.substr(from_here, end - from_here);
  }
  // The next `count` bytes.
  std::string take(size_t count) {
    std::string more;
    while (seen.size() - taken < count) {
      if (!piped.read_some(more, 10'000))
        throw std::runtime_error("device silent after: " + seen.substr(taken));
      seen += more;
    }
    taken += count;
    return seen.substr(taken - count, count);
  }
  size_t taken = 0;
};

long count_line_ends(const std::string &text) {
  long count = 0;
  for (char c : text)
    count += c == '\n';
  return count;
}

const std::string PROMPT = "cgnat-device$ ";

std::vector<std::string> sample_settings(long page_length) {
  return {"summary=" + testing_support::sample_path("summary.txt"),
          "errors=" + testing_support::sample_path("errors.txt"),
          "page_length=" + std::to_string(page_length)};
}

struct PagingCase {
  std::string name;
  long page_length;
  std::string key;      // answer to the first stop
  long lines_after_key; // lines up to the next stop or the prompt
};
void PrintTo(const PagingCase &c, std::ostream *os) { *os << c.name; }
class Paging : public testing::TestWithParam<PagingCase> {};

TEST_P(Paging, StopsEveryPageUntilAnswered) {
  const PagingCase &c = GetParam();
  Device device(sample_settings(c.page_length));
  device.until(PROMPT);
  device.send("show cgnat summary\r");
  std::string first = device.until("--More--");
  // The echo's line end, then page_length - 1 lines of output.
  EXPECT_EQ(count_line_ends(first), 1 + c.page_length - 1);
  device.send(c.key);
  std::string next =
      c.lines_after_key < 0 ? device.until(PROMPT) : device.until("--More--");
  if (c.lines_after_key < 0) {
    EXPECT_EQ(next, "\r        \r" + PROMPT);
    return;
  }
  EXPECT_EQ(count_line_ends(next), c.lines_after_key);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Paging,
    testing::Values(PagingCase{"space_shows_a_page", 6, " ", 5},
                    PagingCase{"enter_shows_a_line", 6, "\r", 1},
                    PagingCase{"q_ends_the_output", 6, "q", -1}),
    [](const auto &info) { return info.param.name; });

TEST(DeviceCommandLine, ScreenLengthZeroGivesTheWholeSample) {
  Device device(sample_settings(6));
  device.until(PROMPT);
  device.send("set cli screen-length 0\r\n");
  EXPECT_EQ(device.until(PROMPT), "set cli screen-length 0\r\n" + PROMPT);
  device.send("show cgnat summary\n");
  EXPECT_EQ(device.until(PROMPT),
            "show cgnat summary\r\n" +
                testing_support::read_text(
                    testing_support::sample_path("summary.txt")) +
                PROMPT);
  device.send("shw\x7fow x\n");
  EXPECT_EQ(device.until(PROMPT),
            "shw\b \bow x\r\n% Invalid command: show x\r\n" + PROMPT);
}

const std::string BANNER = "\r\nCGNAT simulated device\r\nCommands: show "
                           "cgnat summary, show cgnat errors\r\n\r\n";
const std::string PASTE_ON = "\033[?2004h", PASTE_OFF = "\033[?2004l\r";
const std::string ERASE = "\r\033[K";

// fish 3.6 on a vt100 terminal of `columns` around the 14-column prompt.
std::string fish_prompt(size_t columns) {
  const std::string sgr0 = std::string("\033[m\017") + std::string(8, '\0');
  return sgr0 + "\xe2\x8f\x8e\033[m\017$<2>" + std::string(columns - 1, ' ') +
         "\r\xe2\x8f\x8e \r\033[K$<3>" + PROMPT + "\033[K" +
         std::string(12, '\0') + "\r\033[14C";
}

// The same with bracketed paste switched on just before the prompt.
std::string fish_paste_prompt(size_t columns) {
  std::string text = fish_prompt(columns);
  return text.insert(text.find(PROMPT), PASTE_ON);
}

struct BytesCase {
  std::string name;
  std::vector<std::string> settings;
  std::string early;  // sent at once, before the banner
  std::string start;  // everything up to the first prompts
  std::string typed;  // then sent
  std::string answer; // what follows
};
void PrintTo(const BytesCase &c, std::ostream *os) { *os << c.name; }
class TerminalBytes : public testing::TestWithParam<BytesCase> {};

TEST_P(TerminalBytes, AreThoseOfTheBehaviour) {
  const BytesCase &c = GetParam();
  std::vector<std::string> settings = sample_settings(0);
  settings.insert(settings.end(), c.settings.begin(), c.settings.end());
  Device device(settings);
  device.send(c.early);
  EXPECT_EQ(device.take(c.start.size()), c.start);
  device.send(c.typed);
  EXPECT_EQ(device.take(c.answer.size()), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, TerminalBytes,
    testing::Values(
        // An Enter during a slow login profile: echoed before the banner,
        // read after the prompt, which comes again on the same line.
        BytesCase{"terminal_echoes_before_the_banner",
                  {"fault=tty-echo", "banner_delay_ms=1000"},
                  "\r",
                  "\r\n" + BANNER + PROMPT + PROMPT,
                  "shw\x7fow\x01 x\r",
                  "shw\b \bow^A x\r\n% Invalid command: show x\r\n" + PROMPT},
        BytesCase{"terminal_echoes_with_paste_codes",
                  {"fault=tty-echo,paste-codes"},
                  "",
                  BANNER + PASTE_ON + PROMPT,
                  "x\n\n",
                  "x\r\n\r\n" + PASTE_OFF + "% Invalid command: x\r\n" +
                      PASTE_ON + PROMPT + PASTE_OFF + PASTE_ON + PROMPT},
        BytesCase{"terminal_echoes_prompt_written_twice",
                  {"fault=tty-echo,double-prompt"},
                  "",
                  BANNER + PROMPT + "\r\n" + PROMPT,
                  "\r",
                  "\r\n" + PROMPT + "\r\n" + PROMPT},
        BytesCase{"prompt_after_erase",
                  {"fault=erase-prompt"},
                  "",
                  BANNER + ERASE + PROMPT,
                  "\r",
                  "\r\n" + ERASE + PROMPT},
        // As wide as the collector's terminal when there is none.
        BytesCase{"fish_padding_511_columns",
                  {"fault=fish-padding"},
                  "",
                  BANNER + fish_prompt(511),
                  "\r",
                  "\r\n" + fish_prompt(511)},
        // The device's own echo, then the switch off, then the next prompt.
        BytesCase{"fish_padding_with_paste_codes",
                  {"fault=fish-padding,paste-codes", "columns=6"},
                  "",
                  BANNER + fish_paste_prompt(6),
                  "x\r",
                  "x\r\n" + PASTE_OFF + "% Invalid command: x\r\n" +
                      fish_paste_prompt(6)},
        BytesCase{"prompt_without_dollar",
                  {"prompt=r1# "},
                  "",
                  BANNER + "r1# ",
                  "\r\r",
                  "\r\nr1# \r\nr1# "}),
    [](const auto &info) { return info.param.name; });

// On a real terminal left cooked: the terminal echoes the Enter typed
// during the pause, and turns the device's LF into CR LF itself.
TEST(TerminalEcho, ComesFromACookedTerminal) {
  std::vector<std::string> words{testing_support::device_binary(),
                                 "fault=tty-echo", "banner_delay_ms=500"};
  for (const auto &setting : sample_settings(0))
    words.push_back(setting);
  testing_support::PtyDevice device(words, {});
  ASSERT_EQ(write(device.fd, "\r", 1), 1);
  const std::string expected = "\r\n" + BANNER + PROMPT + PROMPT;
  std::string seen;
  char chunk[4096];
  while (seen.size() < expected.size()) {
    pollfd entry{device.fd, POLLIN, 0};
    if (poll(&entry, 1, 10'000) != 1)
      break;
    ssize_t got = read(device.fd, chunk, sizeof chunk);
    if (got <= 0)
      break;
    seen.append(chunk, static_cast<size_t>(got));
  }
  EXPECT_EQ(seen, expected);
}

} // namespace
