// Each bad SSH setting ends the run before the device is contacted: one
// error line naming the variable, status 1. Good settings reach the device.
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

namespace {

using namespace fault_matrix;
using testing_support::FakeTrapper;
using testing_support::TempDir;

const std::string TRANSCRIPT = "CGNAT_SSH_TRANSCRIPT",
                  KNOWN_HOSTS = "CGNAT_SSH_KNOWN_HOSTS",
                  POLICY = "CGNAT_SSH_HOST_KEY_POLICY";

struct SshSettingCase {
  std::string name;
  std::vector<std::pair<std::string, std::string>> settings; // "@": files
  std::string setting; // named in the error; empty: accepted
  std::string part = {};
};
void PrintTo(const SshSettingCase &c, std::ostream *os) { *os << c.name; }

class SshSetting : public testing::TestWithParam<SshSettingCase> {};

TEST_P(SshSetting, RefusedBeforeTheDeviceByName) {
  const SshSettingCase &c = GetParam();
  TempDir files, home;
  testing_support::write_text(files.path + "/a_file", "x\n");
  FakeTrapper device, trapper; // the device's port only counts connections
  Env env{{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", trapper.address()}};
  for (auto [variable, value] : c.settings) {
    if (value.starts_with("@"))
      value = files.path + "/" + value.substr(1);
    env.emplace_back(variable, value);
  }
  // A background run is refused before it starts, too; a good one would
  // log in behind the test's back.
  std::vector<std::string> modes{"discoveryLinux"};
  if (!c.setting.empty())
    modes.push_back("launch_discoveryLinux");
  for (const std::string &mode : modes) {
    auto result = run({mode, "127.0.0.1", std::to_string(device.port()),
                       DEVICE_USER, DEVICE_PASSWORD, ZABBIX_HOST},
                      false, env, 30);
    expect_sound_run(result, 15);
    EXPECT_EQ(result.status, 1) << mode;
    expect_error_line(result.err);
    if (c.setting.empty()) {
      EXPECT_EQ(result.err.find("CGNAT_SSH_"), std::string::npos) << result.err;
    } else {
      EXPECT_EQ(result.err.rfind("Erro: " + c.setting + ": ", 0), 0u)
          << mode << ": " << masked(result.err);
      EXPECT_NE(result.err.find(c.part), std::string::npos)
          << c.part << " in: " << masked(result.err);
    }
  }
  EXPECT_EQ(device.requests().size(), c.setting.empty() ? 1u : 0u)
      << "connections to the device";
  EXPECT_TRUE(trapper.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    FaultMatrix, SshSetting,
    testing::Values(
        SshSettingCase{"transcript_folder_missing",
                       {{TRANSCRIPT, "@nowhere"}},
                       TRANSCRIPT,
                       "não pode ser lida"},
        SshSettingCase{"transcript_a_file",
                       {{TRANSCRIPT, "@a_file"}},
                       TRANSCRIPT,
                       "não é uma pasta"},
        // Unwritable even for root.
        SshSettingCase{"transcript_folder_unwritable",
                       {{TRANSCRIPT, "/proc/self"}},
                       TRANSCRIPT,
                       "/proc/self"},
        SshSettingCase{
            "transcript_empty", {{TRANSCRIPT, ""}}, TRANSCRIPT, "vazia"},
        SshSettingCase{
            "policy_unknown", {{POLICY, "Strict"}}, POLICY, "\"Strict\""},
        SshSettingCase{"policy_empty", {{POLICY, ""}}, POLICY, "\"\""},
        SshSettingCase{"known_hosts_a_folder",
                       {{KNOWN_HOSTS, "@"}},
                       KNOWN_HOSTS,
                       "não é um arquivo"},
        SshSettingCase{
            "known_hosts_folder_missing_accept_new",
            {{KNOWN_HOSTS, "@nowhere/known_hosts"}, {POLICY, "accept-new"}},
            KNOWN_HOSTS,
            "não pode ser criado"},
        SshSettingCase{
            "known_hosts_empty", {{KNOWN_HOSTS, ""}}, KNOWN_HOSTS, "vazio"},
        // Accepted: the run goes on to the device (a fake one here).
        SshSettingCase{"all_good",
                       {{TRANSCRIPT, "@"},
                        {KNOWN_HOSTS, "@new_known_hosts"},
                        {POLICY, "accept-new"}},
                       ""}),
    [](const auto &info) { return info.param.name; });

} // namespace
