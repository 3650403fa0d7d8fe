// Zabbix 7.0 proxy groups: a value sent where its host is not monitored is
// answered with the address of the proxy that monitors it.
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"
#include "tests/support/fake_trapper.hpp"
#include "tests/support/loopback.hpp"
#include "tests/tarnlibrary/zabbix_library/psk_mode.hpp"

#include <gtest/gtest.h>
#include <memory>

namespace {

using testing_support::FakeTrapper;
using testing_support::SentItem;
using testing_support::trapper_answer;
using testing_support::trapper_redirect;
using testing_support::TrapperReply;

// The configured server, the proxy it redirects to, and an address where
// nothing listens.
struct Peers {
  std::string first, second, closed;
};

std::string with_peers(std::string text, const Peers &peers) {
  for (auto [mark, address] : {std::pair{"{first}", &peers.first},
                               {"{second}", &peers.second},
                               {"{closed}", &peers.closed}})
    for (size_t at; (at = text.find(mark)) != std::string::npos;)
      text.replace(at, std::string_view(mark).size(), *address);
  return text;
}

using Reply = TrapperReply (*)(const Peers &);

struct Case {
  std::string name;
  Reply first, second;
  std::string failure; // {first}, {second}, {closed} stand for the addresses
  size_t second_requests = 1;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

TrapperReply success(const Peers &) {
  return testing_support::trapper_success();
}
TrapperReply to_second(const Peers &peers) {
  return trapper_redirect(peers.second);
}

const std::string AGAIN = ": só um redirecionamento por valor é seguido";
const std::string REFUSED = ": redirecionamento recusado: endereço do "
                            "servidor Zabbix inválido ";

const Case CASES[] = {
    {"followed", to_second, success, ""},
    {"host_name_followed",
     [](const Peers &peers) {
       return trapper_redirect("localhost" +
                               peers.second.substr(peers.second.find(':')));
     },
     success, ""},
    {"loop", to_second,
     [](const Peers &peers) { return trapper_redirect(peers.first); },
     "servidor Zabbix {first} redirecionou para {second}, que redirecionou de "
     "novo para \"{first}\"" +
         AGAIN},
    {"reset_after_redirect", to_second,
     [](const Peers &) { return testing_support::trapper_redirect_reset(); },
     "servidor Zabbix {first} redirecionou para {second}, que redirecionou de "
     "novo" +
         AGAIN},
    {"port_out_of_range",
     [](const Peers &) { return trapper_redirect("proxy-2:99999"); }, success,
     "servidor Zabbix {first}" + REFUSED +
         "\"proxy-2:99999\": porta deve ser um número de 1 a 65535",
     0},
    {"ipv6_without_brackets",
     [](const Peers &) { return trapper_redirect("::1:10051"); }, success,
     "servidor Zabbix {first}" + REFUSED +
         "\"::1:10051\": um endereço IPv6 com porta vai entre colchetes",
     0},
    {"empty_address", [](const Peers &) { return trapper_redirect(""); },
     success, "servidor Zabbix {first}" + REFUSED + "\"\": vazio", 0},
    {"address_missing",
     [](const Peers &) -> TrapperReply {
       return {trapper_answer(
           R"({"redirect":{"revision":1},"response":"failed"})")};
     },
     success,
     "servidor Zabbix {first}: resposta malformada: redirecionamento sem "
     "\"address\"",
     0},
    {"revision_not_a_number",
     [](const Peers &peers) -> TrapperReply {
       return {trapper_answer(R"({"redirect":{"revision":"x","address":")" +
                              peers.second + R"("},"response":"failed"})")};
     },
     success,
     "servidor Zabbix {first}: resposta malformada: redirecionamento sem "
     "\"revision\" numérica",
     0},
    {"target_refuses",
     [](const Peers &peers) { return trapper_redirect(peers.closed); }, success,
     "servidor Zabbix {first} redirecionou para {closed}: conexão recusada", 0},
    {"target_rejects_the_item", to_second,
     [](const Peers &) { return testing_support::trapper_rejection(); },
     "servidor Zabbix {first} redirecionou para {second}: o item "
     "\"activeSessions\" não foi aceito"},
    {"reset_at_the_configured_server",
     [](const Peers &) { return testing_support::trapper_redirect_reset(); },
     success,
     "servidor Zabbix {first}: o proxy do grupo que monitora o host está fora "
     "do ar (resposta \"reset\")",
     0},
};

class Redirect : public testing::TestWithParam<Case> {};

TEST_P(Redirect, FollowedOnceOrFailsNamingBothAddresses) {
  const Case &c = GetParam();
  Peers peers;
  FakeTrapper first([&](size_t) { return c.first(peers); });
  FakeTrapper second([&](size_t) { return c.second(peers); });
  peers = {first.address(), second.address(),
           "127.0.0.1:" + testing_support::closed_port()};
  tarn::ZabbixRoute route;
  std::string failure;
  try {
    tarn::send_zabbix(first.address(), "cgnat-test", "activeSessions", "42", {},
                      route);
  } catch (const std::runtime_error &error) {
    failure = error.what();
  }
  std::string expected = with_peers(c.failure, peers);
  EXPECT_EQ(failure.substr(0, expected.size()), expected) << failure;
  EXPECT_EQ(first.requests().size(), 1u);
  ASSERT_EQ(second.requests().size(), c.second_requests);
  if (c.second_requests == 1) {
    EXPECT_EQ(second.items(),
              (std::vector<SentItem>{{"cgnat-test", "activeSessions", "42"}}));
  }
  // Only an address that took the value is kept.
  EXPECT_EQ(route.redirected.has_value(), c.failure.empty());
}

INSTANTIATE_TEST_SUITE_P(ProxyGroup, Redirect, testing::ValuesIn(CASES),
                         [](const auto &info) { return info.param.name; });

void send(const std::string &server, tarn::ZabbixRoute &route,
          const std::string &value) {
  tarn::send_zabbix(server, "cgnat-test", "activeSessions", value, {}, route);
}

TEST(RedirectRoute, LaterValuesGoStraightToTheAddressThatTookOne) {
  FakeTrapper second;
  FakeTrapper first([&](size_t) { return trapper_redirect(second.address()); });
  tarn::ZabbixRoute route;
  for (int i = 0; i < 36; ++i)
    send(first.address(), route, std::to_string(i));
  EXPECT_EQ(first.requests().size(), 1u);
  ASSERT_EQ(second.items().size(), 36u);
  EXPECT_EQ(second.items()[35].value, "35");
  ASSERT_TRUE(route.redirected);
  EXPECT_EQ(route.redirected->port, std::to_string(second.port()));
}

TEST(RedirectRoute, AValueOnItsOwnKeepsNothing) {
  FakeTrapper second;
  FakeTrapper first([&](size_t) { return trapper_redirect(second.address()); });
  for (int i = 0; i < 2; ++i)
    tarn::send_zabbix(first.address(), "cgnat-test", "activeSessions", "1");
  EXPECT_EQ(first.requests().size(), 2u);
  EXPECT_EQ(second.items().size(), 2u);
}

// The group moved the host while the run went on: the kept proxy redirects
// to a third one. A newer redirect replaces the kept one; an older one is
// followed for its value only, as zabbix_sender keeps the highest revision.
struct MoveCase {
  std::string name;
  int revision;
  bool replaces;
};
void PrintTo(const MoveCase &c, std::ostream *os) { *os << c.name; }

class RedirectMove : public testing::TestWithParam<MoveCase> {};

TEST_P(RedirectMove, KeepsTheHighestRevision) {
  FakeTrapper third;
  FakeTrapper second([&](size_t connection) {
    return connection == 0
               ? testing_support::trapper_success()
               : trapper_redirect(third.address(), GetParam().revision);
  });
  FakeTrapper first(
      [&](size_t) { return trapper_redirect(second.address(), 5); });
  tarn::ZabbixRoute route;
  for (const char *value : {"1", "2", "3"})
    send(first.address(), route, value);
  EXPECT_EQ(first.requests().size(), 1u);
  EXPECT_EQ(third.items().size(), 2u);
  EXPECT_EQ(second.requests().size(), GetParam().replaces ? 2u : 3u);
  ASSERT_TRUE(route.redirected);
  EXPECT_EQ(route.redirected->port,
            std::to_string((GetParam().replaces ? third : second).port()));
}

INSTANTIATE_TEST_SUITE_P(ProxyGroup, RedirectMove,
                         testing::Values(MoveCase{"newer", 6, true},
                                         MoveCase{"same", 5, true},
                                         MoveCase{"older", 4, false}),
                         [](const auto &info) { return info.param.name; });

TEST(RedirectRoute, ResetAtTheKeptProxySendsBackToTheConfiguredServer) {
  FakeTrapper second([](size_t connection) {
    return connection == 0 ? testing_support::trapper_success()
                           : testing_support::trapper_redirect_reset();
  });
  FakeTrapper first([&](size_t connection) {
    return connection == 0 ? trapper_redirect(second.address())
                           : testing_support::trapper_success();
  });
  tarn::ZabbixRoute route;
  for (const char *value : {"1", "2", "3"})
    send(first.address(), route, value);
  EXPECT_FALSE(route.redirected);
  EXPECT_EQ(second.requests().size(), 2u);
  ASSERT_EQ(first.items().size(), 3u);
  EXPECT_EQ(first.items()[1].value, "2");
  EXPECT_EQ(first.items()[2].value, "3");
}

TEST(RedirectRoute, FailureAtTheKeptProxyNamesBothAddresses) {
  auto second = std::make_unique<FakeTrapper>();
  std::string second_address = second->address();
  FakeTrapper first([&](size_t) { return trapper_redirect(second_address); });
  tarn::ZabbixRoute route;
  send(first.address(), route, "1");
  second.reset(); // the proxy went away
  try {
    send(first.address(), route, "2");
    FAIL() << "no error";
  } catch (const std::runtime_error &error) {
    EXPECT_EQ(std::string(error.what()),
              "servidor Zabbix " + second_address + " (redirecionado por " +
                  first.address() +
                  "): conexão recusada (nada escuta nessa porta?)");
  }
  EXPECT_EQ(first.requests().size(), 1u);
}

// The same encryption reaches the proxy the value is redirected to: a proxy
// that takes the run's key gets it, one with another key fails the value.
struct TlsCase {
  std::string name;
  std::string second_key_hex;
  std::string failure; // after "servidor Zabbix A redirecionou para B: "
};
void PrintTo(const TlsCase &c, std::ostream *os) { *os << c.name; }

class RedirectTls : public testing::TestWithParam<TlsCase> {};

TEST_P(RedirectTls, SameSettingsAtTheNewAddress) {
  const TlsCase &c = GetParam();
  testing_support::TempDir dir;
  tarn::ZabbixTls tls = testing_support::psk_mode(dir);
  FakeTrapper second([](size_t) { return testing_support::trapper_success(); },
                     testing_support::trapper_psk(c.second_key_hex));
  FakeTrapper first([&](size_t) { return trapper_redirect(second.address()); },
                    testing_support::trapper_psk());
  tarn::ZabbixRoute route;
  std::string failure;
  try {
    tarn::send_zabbix(first.address(), "cgnat-test", "activeSessions", "42",
                      tls, route);
  } catch (const std::runtime_error &error) {
    failure = error.what();
  }
  EXPECT_EQ(first.items().size(), 1u);
  if (c.failure.empty()) {
    EXPECT_EQ(failure, "");
    EXPECT_EQ(second.items(),
              (std::vector<SentItem>{{"cgnat-test", "activeSessions", "42"}}));
  } else {
    std::string prefix = "servidor Zabbix " + first.address() +
                         " redirecionou para " + second.address() + ": ";
    EXPECT_EQ(failure.substr(0, prefix.size()), prefix) << failure;
    EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    EXPECT_TRUE(second.items().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Psk, RedirectTls,
    testing::Values(
        TlsCase{"same_key", testing_support::TEST_PSK_HEX, ""},
        TlsCase{
            "other_key",
            "ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100",
            "confira identidade e chave"}),
    [](const auto &info) { return info.param.name; });

} // namespace
