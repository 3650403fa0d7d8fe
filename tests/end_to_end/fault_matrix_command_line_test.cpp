// Whatever words the collector is given (too few, too many, huge, not
// UTF-8): a clear outcome, no crash, only valid UTF-8 written and never the
// password.
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace fault_matrix;
using testing_support::FakeTrapper;

// Words replaced by the device's login (or a refused port when the row
// needs no device).
const std::string HOST = "<host>", PORT = "<port>", USER = "<user>",
                  PASSWORD = "<password>";

enum class Outcome {
  Critical,       // the critical-error line, status 1
  ErrorReport,    // one "Erro:" line on standard error, status 1
  Nothing,        // no output, status 0
  Delivered,      // all 36 values under the given Zabbix host, "OK"
  DeliveryFailed, // 36 failure lines, "OK"
};

struct CommandLineCase {
  std::string name;
  std::vector<std::string> words; // after the program's name
  Outcome outcome;
  std::vector<std::string> parts = {}; // in the error or failure lines
  bool needs_device = false;
};
void PrintTo(const CommandLineCase &c, std::ostream *os) { *os << c.name; }

std::string huge(char letter) { return std::string(100'000, letter); }

class CommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, HasAClearOutcome) {
  const CommandLineCase &c = GetParam();
  std::unique_ptr<testing_support::SimulatedDevice> device;
  std::vector<std::string> login{"127.0.0.1", closed_port(), DEVICE_USER,
                                 DEVICE_PASSWORD};
  if (c.needs_device) {
    device =
        std::make_unique<testing_support::SimulatedDevice>(device_options());
    login = {device->host, device->port, device->user, device->password};
  }
  std::vector<std::string> words = c.words;
  for (std::string &word : words)
    for (size_t i = 0; i < 4; ++i)
      if (word == std::vector{HOST, PORT, USER, PASSWORD}[i])
        word = login[i];
  FakeTrapper trapper;
  testing_support::TempDir home;

  auto result = run(
      words, false,
      {{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", trapper.address()}}, 60);

  expect_sound_run(result, 30);
  switch (c.outcome) {
  case Outcome::Critical:
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out.rfind(CRITICAL_LINE, 0), 0u) << masked(result.out);
    EXPECT_EQ(lines_of(result.out).size(), 1u);
    EXPECT_EQ(masked(result.err), "");
    break;
  case Outcome::ErrorReport:
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(masked(result.out), "");
    expect_error_line(result.err);
    break;
  case Outcome::Nothing:
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(masked(result.out), "");
    EXPECT_EQ(masked(result.err), "");
    break;
  case Outcome::Delivered:
    EXPECT_EQ(result.status, 0) << masked(result.err);
    EXPECT_EQ(masked(result.out), "OK\n");
    EXPECT_TRUE(trapper.items() == expected_items(words.at(5)));
    break;
  case Outcome::DeliveryFailed:
    EXPECT_EQ(result.status, 0) << masked(result.err);
    expect_failure_lines(result.out, trapper.address(), c.parts.at(0));
    break;
  }
  if (c.outcome == Outcome::ErrorReport) {
    for (const auto &part : c.parts)
      EXPECT_NE(result.err.find(part), std::string::npos)
          << part << " in: " << masked(result.err);
  }
  if (c.outcome != Outcome::Delivered) {
    EXPECT_TRUE(trapper.items().empty());
  }
}

const std::string NOT_UTF8 = "\xff\xfe";

INSTANTIATE_TEST_SUITE_P(
    FaultMatrix, CommandLine,
    testing::Values(
        CommandLineCase{"no_words", {}, Outcome::Critical},
        CommandLineCase{"one_word",
                        {"discoveryLinux"},
                        Outcome::ErrorReport,
                        {"\"discoveryLinux\"", "forma completa"}},
        CommandLineCase{
            "two_words", {"discoveryLinux", HOST}, Outcome::Critical},
        CommandLineCase{
            "three_words", {"discoveryLinux", HOST, PORT}, Outcome::Critical},
        CommandLineCase{"four_words",
                        {"discoveryLinux", HOST, PORT, USER},
                        Outcome::Critical},
        CommandLineCase{"five_words",
                        {"discoveryLinux", HOST, PORT, USER, PASSWORD},
                        Outcome::Critical},
        CommandLineCase{
            "six_words",
            {"discoverylinux", HOST, PORT, USER, PASSWORD, ZABBIX_HOST},
            Outcome::Nothing},
        CommandLineCase{"seven_words",
                        {"discoveryLinux", HOST, PORT, USER, PASSWORD,
                         ZABBIX_HOST, "extra"},
                        Outcome::Critical},
        CommandLineCase{"eight_words",
                        {"discoveryLinux", HOST, PORT, USER, PASSWORD,
                         ZABBIX_HOST, "extra", "more"},
                        Outcome::Critical},
        CommandLineCase{"huge_mode",
                        {huge('m'), HOST, PORT, USER, PASSWORD, ZABBIX_HOST},
                        Outcome::Nothing},
        CommandLineCase{
            "huge_host",
            {"discoveryLinux", huge('h'), "22", USER, PASSWORD, ZABBIX_HOST},
            Outcome::ErrorReport},
        CommandLineCase{
            "huge_user",
            {"discoveryLinux", HOST, PORT, huge('u'), PASSWORD, ZABBIX_HOST},
            Outcome::ErrorReport,
            {},
            true},
        CommandLineCase{
            "huge_password",
            {"discoveryLinux", HOST, PORT, USER, long_password(), ZABBIX_HOST},
            Outcome::ErrorReport,
            {"autenticação recusada"},
            true},
        CommandLineCase{
            "huge_zabbix_host",
            {"discoveryLinux", HOST, PORT, USER, PASSWORD, huge('z')},
            Outcome::Delivered,
            {},
            true},
        CommandLineCase{"mode_not_utf8_alone",
                        {"disc" + NOT_UTF8},
                        Outcome::ErrorReport,
                        {"disc" + REPLACEMENT}},
        CommandLineCase{
            "mode_not_utf8",
            {"disc" + NOT_UTF8, HOST, PORT, USER, PASSWORD, ZABBIX_HOST},
            Outcome::Nothing},
        CommandLineCase{"host_not_utf8",
                        {"discoveryLinux", "cgnat-" + NOT_UTF8 + ".invalid",
                         "22", USER, PASSWORD, ZABBIX_HOST},
                        Outcome::ErrorReport,
                        {"cgnat-" + REPLACEMENT}},
        CommandLineCase{"user_not_utf8",
                        {"discoveryLinux", HOST, PORT, "op" + NOT_UTF8,
                         PASSWORD, ZABBIX_HOST},
                        Outcome::ErrorReport,
                        {"autenticação recusada"},
                        true},
        CommandLineCase{
            "zabbix_host_not_utf8",
            {"discoveryLinux", HOST, PORT, USER, PASSWORD, "cgnat-" + NOT_UTF8},
            Outcome::DeliveryFailed,
            {"UTF-8"},
            true}),
    [](const auto &info) { return info.param.name; });

} // namespace
