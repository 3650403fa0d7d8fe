// The real collector against devices whose login shell is a real shell
// (bash, zsh, dash, busybox ash, mksh, fish, tcsh) behind OpenSSH's sshd and
// dropbear: each must give what the simulated device gives.
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/end_to_end/shell_device.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace {

using testing_support::FakeTrapper;
using testing_support::ShellDeviceOptions;

const std::string ZABBIX_HOST = "cgnat-real-shell";

struct ShellCase {
  std::string name;
  ShellDeviceOptions device;
  bool delivery = false; // to a fake trapper instead of the debug report
};
void PrintTo(const ShellCase &c, std::ostream *os) { *os << c.name; }

std::string masked(std::string text, const std::string &secret) {
  for (auto at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at))
    text.replace(at, secret.size(), "<senha>");
  return text;
}

class RealShell : public testing::TestWithParam<ShellCase> {};

TEST_P(RealShell, GivesWhatTheSimulatedDeviceGives) {
  const ShellCase &c = GetParam();
  testing_support::ShellDevice device(c.device);
  testing_support::TempDir home;
  std::optional<FakeTrapper> trapper;
  std::string server = "127.0.0.1:" + fault_matrix::closed_port();
  if (c.delivery)
    server = trapper.emplace().address();

  testing_support::RunOptions options;
  // Well past a sound run (about 0.2 s plus the profile's sleep), well
  // short of the collector's own waits, which would stall CI.
  options.time_limit = 20 + std::stod(c.device.profile_delay);
  options.env = {{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", server}};
  auto result = testing_support::run_collector(
      {"discoveryLinux", device.host, device.port, device.user, device.password,
       c.delivery ? ZABBIX_HOST : "debug"},
      options);

  EXPECT_EQ(result.out.find(device.password), std::string::npos);
  EXPECT_EQ(result.err.find(device.password), std::string::npos);
  std::string err = masked(result.err, device.password);
  SCOPED_TRACE("status " + std::to_string(result.status) + " after " +
               std::to_string(result.seconds) + " s" +
               (result.timed_out ? " (killed)" : "") + "; stderr: " + err);
  EXPECT_FALSE(result.timed_out);
  // Done before the profile was: the run never saw the real prompt.
  EXPECT_GE(result.seconds, std::stod(c.device.profile_delay));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(err, "");
  if (c.delivery) {
    EXPECT_EQ(result.out, "OK\n");
    EXPECT_EQ(trapper->items(), fault_matrix::expected_items(ZABBIX_HOST));
  } else {
    EXPECT_EQ(masked(result.out, device.password),
              testing_support::read_text(std::string(CGNAT_SOURCE_DIR) +
                                         "/tests/LINUX/debug_report/golden/"
                                         "samples_report.txt"));
  }
}

std::vector<ShellCase> cases() {
  std::vector<ShellCase> all;
  for (std::string server : {"sshd", "dropbear"})
    for (std::string shell :
         {"bash", "zsh", "dash", "ash", "mksh", "fish", "tcsh"})
      all.push_back({server + "_" + shell, {server, shell}});
  // Slow logins (a profile that waits on something before the first prompt)
  // and a message after the first prompt, in line-editing shells and in one
  // that leaves the echo to the terminal.
  for (std::string delay : {"1", "3"}) {
    all.push_back(
        {"sshd_bash_profile_" + delay + "s", {"sshd", "bash", delay}});
    all.push_back(
        {"dropbear_dash_profile_" + delay + "s", {"dropbear", "dash", delay}});
  }
  all.push_back({"sshd_bash_late_message", {"sshd", "bash", "0", true}});
  all.push_back(
      {"dropbear_dash_late_message", {"dropbear", "dash", "0", true}});
  all.push_back({"sshd_fish_late_message", {"sshd", "fish", "0", true}});
  all.push_back({"sshd_bash_delivery", {"sshd", "bash"}, true});
  all.push_back({"dropbear_dash_delivery", {"dropbear", "dash"}, true});
  return all;
}

INSTANTIATE_TEST_SUITE_P(RealShells, RealShell, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<ShellCase> &info) {
                           return info.param.name;
                         });

} // namespace
