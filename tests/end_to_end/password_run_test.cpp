// Passwords of every shape log in to the simulated device and the run is
// whole: 10,000 bytes with blanks, quotes, shell characters and bytes that
// are not UTF-8, and the empty password, which goes to the device as it is.
// The device checks the exact bytes over keyboard-interactive, beyond what
// sshd's "password" method (1024 bytes) and pam_unix (512) take.
#include "tests/end_to_end/stored_history.hpp"
#include "tests/support/exec_trace.hpp"
#include "tests/support/sample_values.hpp"
#include "tests/support/zabbix_server.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

const std::string LONG_PASSWORD = [] {
  const std::string piece = "pw 'q\" $(touch x);|&`\xff\xfe\\*\t";
  std::string password;
  while (password.size() < 10000)
    password += piece;
  password.resize(10000);
  return password;
}();

enum class Run { foreground, debug_report, launched };

struct Case {
  std::string name;
  std::string password;
  Run run;
  std::string zabbix_host;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class PasswordRun : public testing::TestWithParam<Case> {};

TEST_P(PasswordRun, LogsInAndTheRunIsWhole) {
  const Case &c = GetParam();
  testing_support::TempDir files;
  std::string password_file = files.path + "/password";
  testing_support::write_text(password_file, c.password);
  testing_support::SimulatedDevice device({"--password-file", password_file});
  ASSERT_EQ(device.password, c.password);

  testing_support::RunOptions options;
  options.time_limit = 120;
  options.env = {{"HOME", device.dir.path},
                 {"CGNAT_ZABBIX_SERVER",
                  testing_support::zabbix_server().trapper_address}};
  std::string mode =
      c.run == Run::launched ? "launch_discoveryLinux" : "discoveryLinux";
  std::vector<std::string> words{testing_support::collector_path(),
                                 mode,
                                 device.host,
                                 device.port,
                                 device.user,
                                 c.password,
                                 c.zabbix_host};
  testing_support::RunResult result;
  if (c.run == Run::launched) {
    // strace follows the background run until it ends.
    std::string trace_dir = files.path + "/trace";
    std::filesystem::create_directory(trace_dir);
    auto traced = testing_support::run_traced(words, options, trace_dir);
    result = traced.result;
    ASSERT_EQ(traced.execs.size(), 2u) << traced.trace;
    std::map<std::string, std::string> execs; // path -> arguments
    for (const auto &exec : traced.execs)
      execs[exec.path] = exec.arguments;
    EXPECT_EQ(execs["/proc/self/exe"],
              "\"" + testing_support::collector_path() +
                  "\", \"discoveryLinux\", \"" + device.host + "\", \"" +
                  device.port + "\", \"" + device.user + "\", \"-\", \"" +
                  c.zabbix_host + "\"");
  } else {
    options.executable = testing_support::collector_path();
    result = testing_support::run_program(words, options);
  }
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(result.timed_out);
  if (!c.password.empty()) {
    EXPECT_EQ(result.out.find(c.password), std::string::npos);
    EXPECT_EQ(result.err.find(c.password), std::string::npos);
  }
  // Output shown only when it holds no password.
  EXPECT_EQ(result.err, "") << (c.password.empty() ? result.err : "");
  switch (c.run) {
  case Run::foreground:
    EXPECT_EQ(result.out, "OK\n");
    break;
  case Run::launched:
    EXPECT_EQ(result.out, "");
    break;
  case Run::debug_report: // what the plain device's run shows
    EXPECT_EQ(result.out,
              testing_support::read_text(std::string(CGNAT_SOURCE_DIR) +
                                         "/tests/LINUX/debug_report/golden/"
                                         "samples_report.txt"));
    break;
  }
  std::string log = device.sshd_log();
  EXPECT_NE(log.find("Accepted keyboard-interactive/pam for " + device.user),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Failed"), std::string::npos) << log;

  if (c.run == Run::debug_report)
    return; // the full-run test shows that nothing is sent
  testing_support::wait_until_history_settles();
  std::vector<std::string> expected;
  for (const auto &[key, value] : testing_support::SAMPLE_VALUES)
    expected.push_back(key + "|" + value);
  EXPECT_EQ(testing_support::stored_for(c.zabbix_host), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Collector, PasswordRun,
    testing::Values(
        Case{"long_odd_password_delivers_36_values", LONG_PASSWORD,
             Run::foreground, "cgnat-pw-long"},
        Case{"long_odd_password_debug_report", LONG_PASSWORD, Run::debug_report,
             "debug"},
        // The background run takes it from the inherited memory file.
        Case{"long_odd_password_launched_delivers_36_values", LONG_PASSWORD,
             Run::launched, "cgnat-pw-launched"},
        Case{"empty_password_delivers_36_values", "", Run::foreground,
             "cgnat-pw-empty"}),
    [](const auto &info) { return info.param.name; });

} // namespace
