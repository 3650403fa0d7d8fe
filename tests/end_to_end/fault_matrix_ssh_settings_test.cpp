// Each bad SSH setting ends the run before the device is contacted: one
// error line naming the variable, status 1. Good settings reach the device.
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

using namespace fault_matrix;
using testing_support::FakeTrapper;
using testing_support::TempDir;

const std::string TRANSCRIPT = "CGNAT_SSH_TRANSCRIPT",
                  KNOWN_HOSTS = "CGNAT_SSH_KNOWN_HOSTS",
                  POLICY = "CGNAT_SSH_HOST_KEY_POLICY",
                  KEY_FILE = "CGNAT_SSH_KEY_FILE";

// The keys the rows name: usable ones, one any user may read, one whose
// passphrase is not the password, and one that is no key.
void make_keys(const std::string &dir) {
  std::string keygen = "ssh-keygen -q -t ed25519 -f " + dir;
  ASSERT_EQ(system((keygen + "/id -N '' && " + keygen + "/locked -N '" +
                    DEVICE_PASSWORD + "' && " + keygen +
                    "/other_phrase -N Other-Phrase-31 && cp " + dir + "/id " +
                    dir + "/open && chmod 644 " + dir + "/open")
                       .c_str()),
            0);
  testing_support::write_text(dir + "/garbage", "not a key\n");
  chmod((dir + "/garbage").c_str(), 0600);
}

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
  bool keys = false;
  for (const auto &setting : c.settings)
    keys = keys || setting.first == KEY_FILE;
  if (keys)
    make_keys(files.path);
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
  std::string result_text;
  for (const std::string &mode : modes) {
    auto result = run({mode, "127.0.0.1", std::to_string(device.port()),
                       DEVICE_USER, DEVICE_PASSWORD, ZABBIX_HOST},
                      false, env, 30);
    result_text += result.out + result.err;
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
  if (keys) { // no line of a private key in any message
    for (const char *name : {"id", "open", "other_phrase", "locked"}) {
      for (const std::string &line :
           lines_of(testing_support::read_text(files.path + "/" + name))) {
        if (!line.starts_with("-----")) {
          EXPECT_EQ(result_text.find(line), std::string::npos) << name;
        }
      }
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
        SshSettingCase{"key_file_missing",
                       {{KEY_FILE, "@nowhere"}},
                       KEY_FILE,
                       "não pode ser lido"},
        SshSettingCase{"key_file_a_folder",
                       {{KEY_FILE, "@"}},
                       KEY_FILE,
                       "não é um arquivo"},
        SshSettingCase{"key_file_readable_by_others",
                       {{KEY_FILE, "@open"}},
                       KEY_FILE,
                       "modo 0644"},
        SshSettingCase{"key_file_not_a_key",
                       {{KEY_FILE, "@garbage"}},
                       KEY_FILE,
                       "não contém uma chave"},
        SshSettingCase{"key_passphrase_not_the_password",
                       {{KEY_FILE, "@other_phrase"}},
                       KEY_FILE,
                       "não a abre"},
        // Accepted: the run goes on to the device (a fake one here).
        SshSettingCase{"all_good",
                       {{TRANSCRIPT, "@"},
                        {KNOWN_HOSTS, "@new_known_hosts"},
                        {POLICY, "accept-new"}},
                       ""},
        SshSettingCase{"encrypted_key", {{KEY_FILE, "@locked"}}, ""},
        SshSettingCase{"plain_key", {{KEY_FILE, "@id"}}, ""}),
    [](const auto &info) { return info.param.name; });

} // namespace
