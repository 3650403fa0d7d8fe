// Whole runs of the real collector: the simulated device answers over SSH
// and a private real Zabbix server stores what the run delivered.
#include "tests/end_to_end/stored_history.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/run_binary.hpp"
#include "tests/support/sample_values.hpp"
#include "tests/support/zabbix_server.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::stored_for;
using testing_support::wait_until_history_settles;
using testing_support::zabbix_server;

using testing_support::SAMPLE_VALUES;

const std::string FAILURE_LINE =
    "Ocorreu um erro ao enviar os itens para o zabbix ";

enum class Server { real, nothing_listening };
enum class Output { ok, nothing, failures_then_ok, golden_report };

struct Case {
  std::string name;
  std::string zabbix_host;
  // Sample lines containing the first text are replaced by the second;
  // an empty replacement drops the line.
  std::vector<std::pair<std::string, std::string>> summary_edits;
  std::vector<std::pair<std::string, std::string>> errors_edits;
  Server server;
  int status;
  Output output;
  std::vector<std::string> in_stderr;
  // Departures from SAMPLE_VALUES in what the host's history must hold:
  // nullopt means the key holds nothing.
  std::map<std::string, std::optional<std::string>> stored_changes;
  bool check_history; // false when no server could have stored anything
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

std::string
edited(const std::string &text,
       const std::vector<std::pair<std::string, std::string>> &edits) {
  std::istringstream lines(text);
  std::string result;
  for (std::string line; std::getline(lines, line);) {
    bool kept = true;
    for (const auto &[found, replacement] : edits)
      if (line.find(found) != std::string::npos) {
        line = replacement.empty() ? "" : replacement + "\r";
        kept = !replacement.empty();
      }
    if (kept)
      result += line + "\n";
  }
  return result;
}

std::string masked(std::string text, const std::string &secret) {
  for (auto at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at))
    text.replace(at, secret.size(), "***");
  return text;
}

class FullRun : public testing::TestWithParam<Case> {};

TEST_P(FullRun, DeliversWhatTheDeviceReported) {
  const Case &c = GetParam();
  testing_support::TempDir files;
  std::string summary = files.path + "/summary.txt";
  std::string errors = files.path + "/errors.txt";
  testing_support::write_text(
      summary, edited(testing_support::read_text(
                          testing_support::sample_path("summary.txt")),
                      c.summary_edits));
  testing_support::write_text(
      errors, edited(testing_support::read_text(
                         testing_support::sample_path("errors.txt")),
                     c.errors_edits));
  testing_support::SimulatedDevice device(
      {"summary=" + summary, "errors=" + errors});

  testing_support::RunOptions options;
  options.time_limit = 120;
  options.env = {{"HOME", device.dir.path},
                 {"CGNAT_ZABBIX_SERVER",
                  c.server == Server::real
                      ? zabbix_server().trapper_address
                      : "127.0.0.1:" + testing_support::closed_port()}};
  auto result = testing_support::run_collector({"discoveryLinux", device.host,
                                                device.port, device.user,
                                                device.password, c.zabbix_host},
                                               options);

  // Failure messages show the output with the password blanked out.
  EXPECT_EQ(result.out.find(device.password), std::string::npos);
  EXPECT_EQ(result.err.find(device.password), std::string::npos);
  result.out = masked(result.out, device.password);
  result.err = masked(result.err, device.password);
  EXPECT_EQ(result.status, c.status) << result.err;
  EXPECT_FALSE(result.timed_out);
  for (const auto &part : c.in_stderr) {
    EXPECT_NE(result.err.find(part), std::string::npos)
        << part << " ausente de: " << result.err;
  }
  if (c.in_stderr.empty()) {
    EXPECT_EQ(result.err, "");
  }
  switch (c.output) {
  case Output::ok:
    EXPECT_EQ(result.out, "OK\n");
    break;
  case Output::nothing:
    EXPECT_EQ(result.out, "");
    break;
  case Output::failures_then_ok: {
    std::istringstream lines(result.out);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);)
      all.push_back(line);
    ASSERT_EQ(all.size(), SAMPLE_VALUES.size() + 1) << result.out;
    for (std::size_t i = 0; i < SAMPLE_VALUES.size(); ++i)
      EXPECT_EQ(all[i].rfind(FAILURE_LINE, 0), 0u) << all[i];
    EXPECT_EQ(all.back(), "OK");
    EXPECT_EQ(result.out.back(), '\n');
    break;
  }
  case Output::golden_report:
    EXPECT_EQ(result.out,
              testing_support::read_text(std::string(CGNAT_SOURCE_DIR) +
                                         "/tests/LINUX/debug_report/golden/"
                                         "samples_report.txt"));
    break;
  }

  if (!c.check_history)
    return;
  wait_until_history_settles();
  std::vector<std::string> expected;
  for (const auto &[key, value] : SAMPLE_VALUES) {
    auto change = c.stored_changes.find(key);
    if (change == c.stored_changes.end())
      expected.push_back(key + "|" + value);
    else if (change->second)
      expected.push_back(key + "|" + *change->second);
  }
  // Exactly once each, in the order they were sent.
  EXPECT_EQ(stored_for(c.zabbix_host), expected);
}

const std::map<std::string, std::optional<std::string>> NOTHING_STORED = [] {
  std::map<std::string, std::optional<std::string>> none;
  for (const auto &row : SAMPLE_VALUES)
    none[row.first] = std::nullopt;
  return none;
}();

INSTANTIATE_TEST_SUITE_P(
    Collector, FullRun,
    testing::Values(Case{"sample_device_all_36_values",
                         "cgnat-full",
                         {},
                         {},
                         Server::real,
                         0,
                         Output::ok,
                         {},
                         {},
                         true},
                    Case{"table_full_yes_goes_out_as_1",
                         "cgnat-full-yes",
                         {{"Table full",
                           "  Table full                            yes"}},
                         {},
                         Server::real,
                         0,
                         Output::ok,
                         {},
                         {{"tableFull", "1"}},
                         true},
                    Case{"no_table_full_line_35_values",
                         "cgnat-full-partial",
                         {{"Table full", ""}},
                         {},
                         Server::real,
                         1,
                         Output::nothing,
                         {"{#TABLE_FULL}", "tableFull"},
                         {{"tableFull", std::nullopt}},
                         true},
                    Case{"no_mapping_table_line_34_values",
                         "cgnat-full-mapping",
                         {},
                         {{"Mapping table full", ""}},
                         Server::real,
                         1,
                         Output::nothing,
                         {"{#MAPPING_TABLE_FULL_IN}", "mappingTableFullIN",
                          "{#MAPPING_TABLE_FULL_OUT}", "mappingTableFullOUT"},
                         {{"mappingTableFullIN", std::nullopt},
                          {"mappingTableFullOUT", std::nullopt}},
                         true},
                    Case{"server_stopped_36_failure_lines_then_ok",
                         "cgnat-full-down",
                         {},
                         {},
                         Server::nothing_listening,
                         0,
                         Output::failures_then_ok,
                         {},
                         {},
                         false},
                    // A Zabbix host named "debug" exists, so a value sent by
                    // mistake would be stored under it.
                    Case{"debug_report_sends_nothing",
                         "debug",
                         {},
                         {},
                         Server::real,
                         0,
                         Output::golden_report,
                         {},
                         NOTHING_STORED,
                         true}),
    [](const auto &info) { return info.param.name; });

} // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new testing_support::ZabbixEnvironment(
      "zabbix-state-full-run",
      {"cgnat-full", "cgnat-full-yes", "cgnat-full-partial",
       "cgnat-full-mapping", "debug", "cgnat-pw-long", "cgnat-pw-empty",
       "cgnat-pw-launched"}));
  return RUN_ALL_TESTS();
}
