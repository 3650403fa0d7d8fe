// The component against a real sshd serving the simulated device: what comes
// back is exactly what the device printed between echo and prompt, CR LF
// line ends included.
#include "tarnlibrary/ssh_library/ssh_library.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using testing_support::read_text;
using testing_support::sample_path;
using testing_support::SimulatedDevice;

const std::string SUMMARY = read_text(sample_path("summary.txt"));
const std::string ERRORS = read_text(sample_path("errors.txt"));

std::string without_table_full(const std::string &summary) {
  auto start = summary.find("  Table full");
  return summary.substr(0, start) +
         summary.substr(summary.find('\n', start) + 1);
}

struct Exchange {
  std::string command;
  std::string output;
};

struct Case {
  std::string name;
  std::vector<std::string> device; // start_device.sh arguments
  std::vector<Exchange> exchanges;
  std::string summary_file_text; // non-empty: served as the summary
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// The collector's order of commands with the sample outputs.
std::vector<Exchange> collector_order(const std::string &summary = SUMMARY) {
  return {{"set cli screen-length 0", ""},
          {"show cgnat summary", summary},
          {"show cgnat errors", ERRORS}};
}

class Session : public testing::TestWithParam<Case> {};

TEST_P(Session, ReturnsEachOutputWhole) {
  const Case &c = GetParam();
  testing_support::TempDir files;
  std::vector<std::string> arguments = c.device;
  if (!c.summary_file_text.empty()) {
    testing_support::write_text(files.path + "/summary.txt",
                                c.summary_file_text);
    arguments.push_back("summary=" + files.path + "/summary.txt");
  }
  SimulatedDevice device(arguments);
  setenv("HOME", device.dir.path.c_str(), 1); // no known_hosts of the user
  tarn::Ssh_connection_3 session(device.host, device.port, device.user,
                                 device.password);
  session.connect();
  for (const Exchange &exchange : c.exchanges)
    EXPECT_EQ(session.execute_command(exchange.command), exchange.output)
        << exchange.command;
  session.close();
}

const std::string REPAIRED_LINE =
    "  Observa\xc3\xa7\xc3\xa3o \xEF\xBF\xBD( \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF"
    "\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD "
    "\xEF\xBF\xBD\r\n";

INSTANTIATE_TEST_SUITE_P(
    Devices, Session,
    testing::Values(
        Case{"sample_outputs", {}, collector_order(), ""},
        Case{"coloured_prompt", {"fault=colour-prompt"}, collector_order(), ""},
        Case{
            "dollar_in_banner", {"fault=dollar-banner"}, collector_order(), ""},
        Case{"slow_device",
             {"fault=slow", "slow_ms=1500"},
             collector_order(),
             ""},
        Case{"keyboard_interactive_only",
             {"--kbdint-only"},
             collector_order(),
             ""},
        Case{"invalid_utf8_replaced",
             {"fault=invalid-utf8"},
             collector_order(SUMMARY + REPAIRED_LINE),
             ""},
        Case{"summary_without_table_full",
             {},
             collector_order(without_table_full(SUMMARY)),
             without_table_full(SUMMARY)},
        Case{"unknown_command_and_repeat",
             {},
             {{"show cgnat errors", ERRORS},
              {"show version", "% Invalid command: show version\r\n"},
              {"", ""},
              {"show cgnat errors", ERRORS}},
             ""},
        // Without "set cli screen-length 0" a short output still has no stop.
        Case{"short_output_unpaged", {}, {{"show cgnat errors", ERRORS}}, ""}),
    [](const auto &info) { return info.param.name; });

TEST(SessionSize, MillionLineSummaryArrivesWhole) {
  constexpr long LINES = 1'000'000;
  SimulatedDevice device({"summary_lines=" + std::to_string(LINES)});
  setenv("HOME", device.dir.path.c_str(), 1);
  tarn::Ssh_connection_3 session(device.host, device.port, device.user,
                                 device.password);
  session.connect();
  EXPECT_EQ(session.execute_command("set cli screen-length 0"), "");
  std::string summary = session.execute_command("show cgnat summary");
  EXPECT_EQ(summary.substr(0, SUMMARY.size()), SUMMARY);
  long line_ends = 0;
  for (size_t at = summary.find("\r\n"); at != std::string::npos;
       at = summary.find("\r\n", at + 2))
    ++line_ends;
  EXPECT_EQ(line_ends, LINES);
  std::string last_line = "  Filler counter " + std::to_string(LINES - 1) +
                          "                 " +
                          std::to_string((LINES - 1) * 7) + "\r\n";
  EXPECT_EQ(summary.substr(summary.size() - last_line.size()), last_line);
  EXPECT_EQ(session.execute_command("show cgnat errors"), ERRORS);
  session.close();
}

TEST(SessionHostKey, RecordedMatchingKeyIsAccepted) {
  SimulatedDevice device;
  std::string ssh_dir = device.dir.path + "/.ssh";
  ASSERT_EQ(system(("mkdir -p " + ssh_dir).c_str()), 0);
  testing_support::write_text(ssh_dir + "/known_hosts",
                              "[" + device.host + "]:" + device.port + " " +
                                  device.public_key() + "\n");
  setenv("HOME", device.dir.path.c_str(), 1);
  tarn::Ssh_connection_3 session(device.host, device.port, device.user,
                                 device.password);
  session.connect();
  EXPECT_EQ(session.execute_command("show cgnat errors"), ERRORS);
  session.close();
  // Nothing is written to known_hosts by a run.
  EXPECT_EQ(read_text(ssh_dir + "/known_hosts"),
            "[" + device.host + "]:" + device.port + " " + device.public_key() +
                "\n");
}

} // namespace
