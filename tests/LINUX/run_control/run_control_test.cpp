// The real binary against every command-line shape and mode.
#include "tests/support/run_binary.hpp"

#include <algorithm>
#include <gtest/gtest.h>

using testing_support::run_collector;
using testing_support::run_program;
using testing_support::RunOptions;

namespace {

const std::string CRITICAL =
    "Erro crítico -- Contactar Tarn Tecnologia, suporte@tarn.com.br, "
    "+55 11 3090-4400\n";
const std::string RIGHTS = " Todos os direitos reservados à Tarn Tecnologia.\n";

struct Case {
  const char *name;
  std::vector<std::string> arguments;
  int status;
  std::string out;
  bool error_report; // a line on standard error
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class CommandLine : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLine, GivesItsStatusAndOutput) {
  const Case &c = GetParam();
  RunOptions options;
  // A server that is never reached: no mode here gets that far.
  options.env = {{"CGNAT_ZABBIX_SERVER", "127.0.0.1:1"}};
  auto result = run_collector(c.arguments, options);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.out, c.out);
  if (c.error_report) {
    EXPECT_EQ(result.err.rfind("Erro: ", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
  } else {
    EXPECT_EQ(result.err, "");
  }
}

const std::string BANNER = RIGHTS + "cgnat-collector  1.0.0\n";

INSTANTIATE_TEST_SUITE_P(
    WordCounts, CommandLine,
    ::testing::Values(
        Case{"none", {}, 1, CRITICAL, false},
        Case{"version", {"version"}, 0, BANNER, false},
        Case{"two", {"version", "h"}, 1, CRITICAL, false},
        Case{"three", {"version", "h", "22"}, 1, CRITICAL, false},
        Case{"four", {"version", "h", "22", "u"}, 1, CRITICAL, false},
        Case{"five", {"version", "h", "22", "u", "p"}, 1, CRITICAL, false},
        Case{"seven",
             {"version", "h", "22", "u", "p", "z", "x"},
             1,
             CRITICAL,
             false},
        Case{"eight",
             {"a", "b", "c", "d", "e", "f", "g", "h"},
             1,
             CRITICAL,
             false},
        Case{"versionFull",
             {"version", "h", "22", "u", "p", "z"},
             0,
             BANNER,
             false},
        Case{"versionEmptyWords",
             {"version", "", "", "", "", ""},
             0,
             BANNER,
             false},
        Case{"shortDiscovery", {"discoveryLinux"}, 1, "", true},
        Case{"shortLaunch", {"launch_discoveryLinux"}, 1, "", true},
        Case{"shortOther", {"x"}, 1, "", true},
        Case{"emptyMode", {""}, 1, "", true},
        Case{"allEmpty", {"", "", "", "", "", ""}, 0, "", false},
        Case{"unknownMode",
             {"inventory", "h", "22", "u", "p", "z"},
             0,
             "",
             false},
        Case{
            "versionCase", {"Version", "h", "22", "u", "p", "z"}, 0, "", false},
        Case{"discoveryCase",
             {"discoverylinux", "h", "22", "u", "p", "z"},
             0,
             "",
             false},
        Case{"discoveryUpper",
             {"DISCOVERYLINUX", "h", "22", "u", "p", "z"},
             0,
             "",
             false}),
    [](const auto &info) { return std::string(info.param.name); });

struct BannerCase {
  const char *name;
  std::string invocation;
  std::string line;
};

void PrintTo(const BannerCase &c, std::ostream *os) { *os << c.name; }

class VersionBanner : public ::testing::TestWithParam<BannerCase> {};

TEST_P(VersionBanner, ReplacesEveryDotSlashWithABlank) {
  RunOptions options;
  options.executable = testing_support::collector_path();
  auto result = run_program({GetParam().invocation, "version"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, RIGHTS + GetParam().line + "\n");
  EXPECT_EQ(result.out.find('\033'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Names, VersionBanner,
    ::testing::Values(
        BannerCase{"plain", "collector", "collector  1.0.0"},
        BannerCase{"absolute", "/usr/lib/zabbix/externalscripts/collector",
                   "/usr/lib/zabbix/externalscripts/collector  1.0.0"},
        BannerCase{"dotSlash", "./collector", " collector  1.0.0"},
        BannerCase{"inside", "../bin/./collector", ". bin/ collector  1.0.0"},
        BannerCase{"dotSlashSlash", ".//collector", " /collector  1.0.0"},
        BannerCase{"noOverlap", "../.", ". .  1.0.0"},
        BannerCase{"empty", "", "  1.0.0"}),
    [](const auto &info) { return std::string(info.param.name); });

struct ServerCase {
  const char *name;
  std::optional<std::string> value;
  bool accepted;
};

void PrintTo(const ServerCase &c, std::ostream *os) { *os << c.name; }

class ZabbixServerSetting : public ::testing::TestWithParam<ServerCase> {};

// A mode that matches nothing still needs the server address first.
TEST_P(ZabbixServerSetting, IsCheckedBeforeDispatch) {
  RunOptions options;
  options.env = {{"CGNAT_ZABBIX_SERVER", GetParam().value}};
  auto result =
      run_collector({"idle", "h", "22", "u", "secret-pw", "z"}, options);
  if (GetParam().accepted) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("CGNAT_ZABBIX_SERVER"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("secret-pw"), std::string::npos);
  }
  EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Values, ZabbixServerSetting,
    ::testing::Values(ServerCase{"unset", std::nullopt, true},
                      ServerCase{"host", "zabbix.example", true},
                      ServerCase{"hostPort", "10.0.0.1:10051", true},
                      ServerCase{"ipv6Port", "[::1]:10051", true},
                      ServerCase{"empty", "", false},
                      ServerCase{"badPort", "zabbix:port", false},
                      ServerCase{"portTooBig", "zabbix:65536", false},
                      ServerCase{"bareIpv6", "::1", false},
                      ServerCase{"openBracket", "[::1:10051", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ZabbixServerSetting, IsNotNeededForTheVersionBanner) {
  RunOptions options;
  options.env = {{"CGNAT_ZABBIX_SERVER", ""}};
  auto result = run_collector({"version", "h", "22", "u", "p", "z"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, BANNER);
}

} // namespace

namespace {

TEST(ErrorReport, ReplacesInvalidUtf8FromTheCommandLine) {
  auto result = run_collector({"mo\xff"
                               "de"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Erro: o modo \"mo\xEF\xBF\xBD"
                        "de\" exige a forma completa: modo host porta "
                        "usuário senha host_zabbix\n");
}

} // namespace
