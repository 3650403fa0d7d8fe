// The SSH settings against a real-shell device behind dropbear: key login
// (ed25519, ECDSA, RSA) with the password as fallback, the host-key
// policies and the transcript.
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/end_to_end/shell_device.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

using testing_support::read_text;
using testing_support::ShellDevice;
using testing_support::TempDir;

enum class KnownHosts { Unset, Empty, Changed };

struct DropbearCase {
  std::string name;
  std::string key = {};   // ssh-keygen -t of the key offered; none if empty
  bool authorized = true; // else another key is the authorized one
  KnownHosts known_hosts = KnownHosts::Unset;
  std::string policy = {}; // CGNAT_SSH_HOST_KEY_POLICY, when set
  bool transcript = false;
  std::string refused = {}; // part of the error; empty: the run succeeds
};
void PrintTo(const DropbearCase &c, std::ostream *os) { *os << c.name; }

void keygen(const std::string &type, const std::string &file) {
  testing_support::RunOptions options;
  options.executable = "/usr/bin/ssh-keygen";
  auto made = testing_support::run_program(
      {"ssh-keygen", "-q", "-t", type, "-N", "", "-f", file}, options);
  ASSERT_EQ(made.status, 0) << made.err;
}

// "SHA256:..." of a public key file, as ssh-keygen -l prints it.
std::string fingerprint(const std::string &public_key_file) {
  testing_support::RunOptions options;
  options.executable = "/usr/bin/ssh-keygen";
  auto listed = testing_support::run_program(
      {"ssh-keygen", "-l", "-E", "sha256", "-f", public_key_file}, options);
  EXPECT_EQ(listed.status, 0) << listed.err;
  auto start = listed.out.find("SHA256:");
  return listed.out.substr(start, listed.out.find(' ', start) - start);
}

// "type base64" of a public key file, without its comment.
std::string key_words(const std::string &public_key_file) {
  std::string line = read_text(public_key_file);
  return line.substr(0, line.find(' ', line.find(' ') + 1));
}

class DropbearSetting : public testing::TestWithParam<DropbearCase> {};

TEST_P(DropbearSetting, BehavesAsDocumented) {
  const DropbearCase &c = GetParam();
  TempDir files, home;
  testing_support::ShellDeviceOptions device_options{"dropbear", "bash"};
  if (!c.key.empty()) {
    keygen(c.key, files.path + "/id");
    if (!c.authorized)
      keygen("ed25519", files.path + "/other");
    device_options.authorized_key =
        files.path + (c.authorized ? "/id.pub" : "/other.pub");
  }
  ShellDevice device(device_options);
  std::string host_key = key_words(device.host_key_file());
  std::string known_hosts = files.path + "/known_hosts";
  std::string recorded_line;
  if (c.known_hosts == KnownHosts::Changed) {
    keygen("ed25519", files.path + "/impostor");
    recorded_line = "[127.0.0.1]:" + device.port + " " +
                    key_words(files.path + "/impostor.pub") + "\n";
  }
  if (c.known_hosts != KnownHosts::Unset)
    testing_support::write_text(known_hosts, recorded_line);
  std::string transcripts = files.path + "/transcripts";
  std::filesystem::create_directory(transcripts);

  fault_matrix::Env env{
      {"HOME", home.path},
      {"CGNAT_ZABBIX_SERVER", "127.0.0.1:" + fault_matrix::closed_port()}};
  if (!c.key.empty())
    env.emplace_back("CGNAT_SSH_KEY_FILE", files.path + "/id");
  if (c.known_hosts != KnownHosts::Unset)
    env.emplace_back("CGNAT_SSH_KNOWN_HOSTS", known_hosts);
  if (!c.policy.empty())
    env.emplace_back("CGNAT_SSH_HOST_KEY_POLICY", c.policy);
  if (c.transcript)
    env.emplace_back("CGNAT_SSH_TRANSCRIPT", transcripts);
  // With an authorized key only the key can log in.
  std::string password = !c.key.empty() && c.authorized
                             ? fault_matrix::WRONG_PASSWORD
                             : device.password;
  auto run = [&] {
    auto result = fault_matrix::run({"discoveryLinux", device.host, device.port,
                                     device.user, password, "debug"},
                                    false, env, 20);
    EXPECT_EQ(result.out.find(password), std::string::npos);
    EXPECT_EQ(result.err.find(password), std::string::npos);
    EXPECT_FALSE(result.timed_out);
    return result;
  };
  auto hidden = [&](std::string text) {
    for (auto at = text.find(device.password); at != std::string::npos;
         at = text.find(device.password, at))
      text.replace(at, device.password.size(), "<senha>");
    return fault_matrix::masked(text);
  };
  auto result = run();
  std::string log = device.server_log();
  SCOPED_TRACE("stderr: " + hidden(result.err) + "\nserver log:\n" + log);

  if (!c.refused.empty()) {
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(c.refused), std::string::npos);
    EXPECT_NE(result.err.find(host_key.substr(0, host_key.find(' ')) + " " +
                              fingerprint(device.host_key_file())),
              std::string::npos);
    // Stopped before authentication: dropbear saw no attempt of any kind.
    EXPECT_EQ(log.find("auth succeeded"), std::string::npos);
    EXPECT_EQ(log.find("Bad password"), std::string::npos);
    EXPECT_EQ(read_text(known_hosts), recorded_line); // left as it was
    return;
  }
  const std::string report =
      read_text(std::string(CGNAT_SOURCE_DIR) +
                "/tests/LINUX/debug_report/golden/samples_report.txt");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, report);
  bool by_key = !c.key.empty() && c.authorized;
  EXPECT_NE(
      log.find(by_key ? "Pubkey auth succeeded" : "Password auth succeeded"),
      std::string::npos);
  EXPECT_EQ(log.find("Bad password"), std::string::npos);

  if (c.policy == "accept-new") {
    EXPECT_EQ(read_text(known_hosts),
              "[127.0.0.1]:" + device.port + " " + host_key + "\n");
    for (auto &[variable, value] : env)
      if (variable == "CGNAT_SSH_HOST_KEY_POLICY")
        value = "strict";
    auto again = run();
    EXPECT_EQ(again.status, 0) << hidden(again.err);
    EXPECT_EQ(again.out, report);
  }

  std::vector<std::filesystem::path> written;
  for (const auto &entry : std::filesystem::directory_iterator(transcripts))
    written.push_back(entry.path());
  ASSERT_EQ(written.size(), c.transcript ? 1u : 0u);
  if (c.transcript) {
    struct stat status {};
    ASSERT_EQ(stat(written[0].c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    std::string text = read_text(written[0]);
    for (const char *part :
         {"> \"set cli screen-length 0\\n\"", "> \"show cgnat summary\\n\"",
          "> \"show cgnat errors\\n\"",
          "Sessions created                      98765432"})
      EXPECT_NE(text.find(part), std::string::npos) << part << " in:\n" << text;
    EXPECT_EQ(text.find(device.password), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dropbear, DropbearSetting,
    testing::Values(
        DropbearCase{"ed25519_key", "ed25519"},
        DropbearCase{"ecdsa_key", "ecdsa"}, DropbearCase{"rsa_key", "rsa"},
        DropbearCase{"key_not_authorized_password_logs_in", "ed25519", false},
        DropbearCase{"strict_empty_known_hosts", "", true, KnownHosts::Empty,
                     "strict", false, "não está registrada"},
        DropbearCase{"accept_new_then_strict", "", true, KnownHosts::Empty,
                     "accept-new"},
        DropbearCase{"changed_host_key", "", true, KnownHosts::Changed,
                     "accept", false, "difere da registrada"},
        DropbearCase{"transcript", "", true, KnownHosts::Unset, "", true}),
    [](const auto &info) { return info.param.name; });

} // namespace
