// Whole runs of the real binary under valgrind: every path frees what it
// took (a leak or an invalid access fails the run).
#include "tests/support/fake_trapper.hpp"
#include "tests/support/run_binary.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr int VALGRIND_FAILED = 99;

RunResult under_valgrind(const std::vector<std::string> &arguments,
                         const std::string &zabbix_server) {
  RunOptions options;
  options.executable = "/usr/bin/valgrind";
  options.time_limit = 120;
  options.env = {{"CGNAT_ZABBIX_SERVER", zabbix_server}};
  std::vector<std::string> words{
      "valgrind",
      "--quiet",
      "--leak-check=full",
      "--errors-for-leak-kinds=definite,indirect,possible",
      "--error-exitcode=" + std::to_string(VALGRIND_FAILED),
      collector_path()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return run_program(words, options);
}

struct Case {
  const char *name;
  const char *zabbix_host;
  bool wrong_password;
  int status;
  size_t items_sent;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class UnderValgrind : public ::testing::TestWithParam<Case> {};

TEST_P(UnderValgrind, LeavesNoLeakAndNoInvalidAccess) {
  const Case &c = GetParam();
  SimulatedDevice device;
  FakeTrapper trapper;
  auto result = under_valgrind(
      {"discoveryLinux", device.host, device.port, device.user,
       c.wrong_password ? "not-" + device.password : device.password,
       c.zabbix_host},
      trapper.address());
  EXPECT_EQ(result.status, c.status) << result.err;
  EXPECT_EQ(result.err.find("=="), std::string::npos) << result.err;
  EXPECT_EQ(trapper.items().size(), c.items_sent);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, UnderValgrind,
    ::testing::Values(Case{"delivery", "cgnat-vg", false, 0, 36},
                      Case{"debugReport", "debug", false, 0, 0},
                      Case{"failedLogin", "cgnat-vg", true, 1, 0}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
