#include "LINUX/run_control/end_process.hpp"
#include "LINUX/run_control/run_settings.hpp"
#include "LINUX/zabbix_output/item_sender.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"
#include "tarnlibrary/process_library/process_library.hpp"
#include "tests/support/fake_trapper.hpp"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

void use_server(const std::string &server) {
  cgnat::RunSettings run;
  run.mode = "discoveryLinux";
  run.full_form = true;
  run.zabbix_host = "cgnat-test";
  run.zabbix_server = server;
  cgnat::set_settings(run);
}

struct Case {
  std::string name;
  std::string message; // what the delivery raises
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const Case CASES[] = {
    {"plain", "servidor Zabbix 10.0.0.9:10051: conexão recusada"},
    {"empty_message", ""},
    {"accented_and_quoted", "o item \"tableFull\" não foi aceito: ção"},
};

class FailureLine : public testing::TestWithParam<Case> {};

TEST_P(FailureLine, IsFixedTextThenMessage) {
  use_server("10.0.0.9");
  CaptureStdout();
  cgnat::deliver_item(
      [&](auto &, auto &, auto &, auto &) {
        throw std::runtime_error(GetParam().message);
      },
      "activeSessions", "42");
  EXPECT_EQ(GetCapturedStdout(),
            "Ocorreu um erro ao enviar os itens para o zabbix " +
                GetParam().message + "\n");
}

INSTANTIATE_TEST_SUITE_P(ItemSender, FailureLine, testing::ValuesIn(CASES),
                         [](const auto &info) { return info.param.name; });

TEST(ItemSender, PassesServerHostKeyValueInOrderAndPrintsNothing) {
  use_server("zabbix.example:10051");
  std::vector<std::string> seen;
  CaptureStdout();
  cgnat::deliver_item(
      [&](const std::string &server, const std::string &host,
          const std::string &chave, const std::string &item) {
        seen = {server, host, chave, item};
      },
      "activeSessions", "1234");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(seen,
            (std::vector<std::string>{"zabbix.example:10051", "cgnat-test",
                                      "activeSessions", "1234"}));
}

TEST(ItemSender, TimeoutAndEndRequestPassThrough) {
  use_server("127.0.0.1");
  CaptureStdout();
  EXPECT_THROW(
      cgnat::deliver_item([](auto &, auto &, auto &,
                             auto &) { throw tarn::TimeoutException(300); },
                          "k", "v"),
      tarn::TimeoutException);
  EXPECT_THROW(cgnat::deliver_item([](auto &, auto &, auto &,
                                      auto &) { throw cgnat::EndProcess{3}; },
                                   "k", "v"),
               cgnat::EndProcess);
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(ItemSender, RealDeliveryReachesTheRunsServerAndHost) {
  testing_support::FakeTrapper trapper;
  use_server(trapper.address());
  CaptureStdout();
  cgnat::zabbix_item_sender()("activeSessions", "1234");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(trapper.items(), (std::vector<testing_support::SentItem>{
                                 {"cgnat-test", "activeSessions", "1234"}}));
}

} // namespace
