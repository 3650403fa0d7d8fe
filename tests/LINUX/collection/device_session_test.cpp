// The device session through the real collector: a device that answers
// gives a full report; any failed SSH step ends the run with status 1 and
// an error on standard error, with nothing parsed, printed or sent.
#include "tests/support/run_binary.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

namespace {

using testing_support::RunOptions;
using testing_support::SimulatedDevice;

struct Case {
  std::string name;
  std::vector<std::string> device;
  std::string port;     // non-empty: given instead of the device's port
  std::string password; // non-empty: given instead of the right one
  bool other_host_key;
  int status;
  std::vector<std::string> in_stdout;
  std::vector<std::string> in_stderr;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class CollectorSession : public testing::TestWithParam<Case> {};

TEST_P(CollectorSession, EndsAsTheDeviceAllows) {
  const Case &c = GetParam();
  SimulatedDevice device(c.device);
  if (c.other_host_key) {
    testing_support::TempDir other;
    ASSERT_EQ(system(("ssh-keygen -q -t ed25519 -N '' -f " + other.path +
                      "/key && mkdir -p " + device.dir.path + "/.ssh")
                         .c_str()),
              0);
    testing_support::write_text(
        device.dir.path + "/.ssh/known_hosts",
        "[" + device.host + "]:" + device.port + " " +
            testing_support::read_text(other.path + "/key.pub"));
  }
  RunOptions options;
  options.env = {{"HOME", device.dir.path}};
  std::string password = c.password.empty() ? device.password : c.password;
  auto result = testing_support::run_collector(
      {"discoveryLinux", device.host, c.port.empty() ? device.port : c.port,
       device.user, password, "debug"},
      options);
  EXPECT_EQ(result.status, c.status) << result.err;
  for (const auto &part : c.in_stdout)
    EXPECT_NE(result.out.find(part), std::string::npos) << part;
  for (const auto &part : c.in_stderr)
    EXPECT_NE(result.err.find(part), std::string::npos)
        << part << " in: " << result.err;
  if (c.status != 0) // nothing after the failed step
    EXPECT_EQ(result.out, "");
  else
    EXPECT_EQ(result.err, "");
  for (const std::string &secret : {device.password, c.password})
    if (!secret.empty()) {
      EXPECT_EQ(result.out.find(secret), std::string::npos);
      EXPECT_EQ(result.err.find(secret), std::string::npos);
    }
}

// Values that only reach the report through the device's outputs.
const std::vector<std::string> REPORTED{"'98765432'", "'987654321098'",
                                        "_SUBSCRIBER_ADDRESS_OUT}': '2'"};

INSTANTIATE_TEST_SUITE_P(
    Devices, CollectorSession,
    testing::Values(
        Case{"sample_device", {}, "", "", false, 0, REPORTED, {}},
        Case{"keyboard_interactive_only",
             {"--kbdint-only"},
             "",
             "",
             false,
             0,
             REPORTED,
             {}},
        Case{"dollar_banner_coloured_prompt",
             {"fault=dollar-banner,colour-prompt"},
             "",
             "",
             false,
             0,
             REPORTED,
             {}},
        Case{"slow_device",
             {"fault=slow", "slow_ms=1000"},
             "",
             "",
             false,
             0,
             REPORTED,
             {}},
        Case{"wrong_password",
             {},
             "",
             "Not-The-Password-5",
             false,
             1,
             {},
             {"autenticação recusada", "\"cgnatsim\"", "127.0.0.1:"}},
        Case{"changed_host_key",
             {},
             "",
             "",
             true,
             1,
             {},
             {"chave do servidor difere"}},
        Case{"port_with_letter", {}, "22x", "", false, 1, {}, {"\"22x\""}},
        Case{"port_zero", {}, "0", "", false, 1, {}, {"\"0\""}},
        Case{"port_too_big", {}, "65536", "", false, 1, {}, {"\"65536\""}},
        Case{"drop_during_summary",
             {"fault=drop", "drop_after=2"},
             "",
             "",
             false,
             1,
             {},
             {"encerrou a conexão", "\"show cgnat summary\""}},
        Case{"drop_during_errors",
             {"fault=drop", "drop_after=3"},
             "",
             "",
             false,
             1,
             {},
             {"encerrou a conexão", "\"show cgnat errors\""}},
        Case{"output_over_64_mib",
             {"fault=huge-output"},
             "",
             "",
             false,
             1,
             {},
             {"64 MiB"}}),
    [](const auto &info) { return info.param.name; });

TEST(CollectorSessionBound, NeverPromptingDeviceEndsAtTheRunBound) {
  SimulatedDevice device({"fault=no-prompt"});
  RunOptions options;
  options.executable = testing_support::short_bound_collector_path();
  options.env = {{"HOME", device.dir.path}};
  auto result = testing_support::run_collector({"discoveryLinux", device.host,
                                                device.port, device.user,
                                                device.password, "debug"},
                                               options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("Tempo limite de execução excedido"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(result.out.find("Discovery"), std::string::npos);
  EXPECT_LT(result.seconds, testing_support::SHORT_BOUND + 5);
}

} // namespace
