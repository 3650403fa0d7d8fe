// The simulated device on a pipe: paging and its command line, as the SSH
// tests and the benchmark rely on them.
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
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

} // namespace
