#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"
#include "tests/support/fake_trapper.hpp"
#include "tests/support/loopback.hpp"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::FakeTrapper;
using testing_support::trapper_answer;
using testing_support::TrapperReply;
using Clock = std::chrono::steady_clock;

std::string header(unsigned char flags, uint32_t length) {
  std::string out = "ZBXD";
  out.push_back(static_cast<char>(flags));
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((length >> shift) & 0xff));
  out.append(4, '\0');
  return out;
}

TrapperReply answer(std::string_view json) { return {trapper_answer(json)}; }
// Built by a call, not a brace list: GCC 12 at -O3 warns on the latter.
TrapperReply raw(std::string bytes, int delay_ms = 0, bool hold_open = false) {
  return {std::move(bytes), delay_ms, true, hold_open};
}

struct Case {
  std::string name;
  TrapperReply reply;
  std::string failure; // empty: the delivery succeeds
  bool refused = false;
  std::string host = "127.0.0.1";
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const std::string SUCCESS_JSON =
    R"({"response":"success","info":"processed: 1; failed: 0; total: 1"})";

const Case CASES[] = {
    {"success", testing_support::trapper_success(), ""},
    {"slow_server_within_bound", raw(trapper_answer(SUCCESS_JSON), 1500), ""},
    {"success_extra_fields",
     answer(R"({"response":"success","info":"processed: 1; failed: 0; )"
            R"(total: 1","extra":[1,2]})"),
     ""},
    {"host_name_resolved", testing_support::trapper_success(), "", false,
     "localhost"},
    {"server_failed_with_info",
     answer(R"({"response":"failed","info":"cannot parse as a valid JSON )"
            R"(object: invalid object format"})"),
     "o servidor respondeu \"failed\": cannot parse as a valid JSON object: "
     "invalid object format"},
    {"server_failed_without_info", answer(R"({"response":"failed"})"),
     "o servidor respondeu \"failed\": (sem informação)"},
    {"processed_zero", testing_support::trapper_rejection(),
     "o item \"activeSessions\" não foi aceito (host ou chave inexistente no "
     "Zabbix, item desativado ou não do tipo trapper): processed: 0; failed: "
     "1; total: 1; seconds spent: 0.000052"},
    {"failed_one",
     answer(R"({"response":"success","info":"processed: 1; failed: 1; )"
            R"(total: 2"})"),
     "não foi aceito"},
    {"success_without_info", answer(R"({"response":"success"})"),
     "resposta malformada: \"info\" inesperado: \"\""},
    {"garbage_long", raw("HTTP/1.1 400 Bad Request\r\n\r\n"),
     "resposta malformada: não começa com \"ZBXD\""},
    {"garbage_short", raw("nope"),
     "resposta malformada: cabeçalho incompleto (4 de 13 bytes)"},
    {"no_header_closed", raw(""), "a conexão foi fechada sem resposta"},
    {"compressed_flags", raw(header(0x03, 2) + "{}"),
     "resposta malformada: flags desconhecidas 0x03"},
    {"zero_flags", raw(header(0x00, 2) + "{}"),
     "resposta malformada: flags desconhecidas 0x00"},
    {"closed_inside_header", raw(header(0x01, 60).substr(0, 6)),
     "resposta malformada: cabeçalho incompleto (6 de 13 bytes)"},
    {"closed_after_header", raw(header(0x01, 60)),
     "resposta truncada: a conexão foi fechada após 0 de 60 bytes anunciados"},
    {"length_longer_than_data", raw(header(0x01, 100) + SUCCESS_JSON),
     "resposta truncada: a conexão foi fechada após " +
         std::to_string(SUCCESS_JSON.size()) + " de 100 bytes anunciados"},
    {"length_beyond_cap", raw(header(0x01, (1u << 20) + 1)),
     "resposta malformada: tamanho anunciado de 1048577 bytes excede o "
     "limite de 1048576"},
    {"not_json", answer("processed: 1"),
     "resposta malformada: não é um objeto JSON"},
    {"json_not_object", answer("[\"success\"]"),
     "resposta malformada: não é um objeto JSON"},
    {"response_missing", answer(R"({"info":"processed: 1; failed: 0"})"),
     "resposta malformada: falta o campo \"response\""},
    {"connection_refused", raw(""), "conexão recusada", true},
    {"silence", raw("", 0, true), "tempo esgotado esperando a resposta"},
    {"length_longer_then_silence",
     raw(header(0x01, 100) + SUCCESS_JSON, 0, true),
     "tempo esgotado esperando a resposta"},
};

class SendZabbix : public testing::TestWithParam<Case> {};

TEST_P(SendZabbix, DeliversOrGivesOneClearError) {
  const Case &c = GetParam();
  FakeTrapper trapper([&](size_t) { return c.reply; });
  int port =
      c.refused ? std::stoi(testing_support::closed_port()) : trapper.port();
  std::string server = c.host + ":" + std::to_string(port);
  auto start = Clock::now();
  std::string failure;
  try {
    tarn::send_zabbix(server, "cgnat-test", "activeSessions", "42");
  } catch (const std::runtime_error &error) {
    failure = error.what();
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_LT(seconds, tarn::ZABBIX_EXCHANGE_LIMIT_MS / 1000.0 + 1.0);
  if (c.failure.empty()) {
    EXPECT_EQ(failure, "");
    EXPECT_EQ(trapper.items(), (std::vector<testing_support::SentItem>{
                                   {"cgnat-test", "activeSessions", "42"}}));
  } else {
    std::string prefix = "servidor Zabbix " + server + ": ";
    EXPECT_EQ(failure.substr(0, prefix.size()), prefix) << failure;
    EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
  }
}

INSTANTIATE_TEST_SUITE_P(Trapper, SendZabbix, testing::ValuesIn(CASES),
                         [](const auto &info) { return info.param.name; });

TEST(SendZabbixBound, RunDeadlineRaisesTimeoutNotDeliveryFailure) {
  FakeTrapper trapper([](size_t) { return TrapperReply{"", 0, true, true}; });
  auto guard = tarn::runtime_limiter(1);
  guard.enter();
  auto start = Clock::now();
  EXPECT_THROW(tarn::send_zabbix(trapper.address(), "h", "k", "v"),
               tarn::TimeoutException);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
  // Once past the deadline, no further connection is even tried.
  EXPECT_THROW(tarn::send_zabbix(trapper.address(), "h", "k", "v"),
               tarn::TimeoutException);
  guard.exit(nullptr);
  EXPECT_EQ(trapper.requests().size(), 1u);
}

// TIME_WAIT entries in this host's IPv4 TCP table: those of connections
// towards port (a client's) and those of port itself (a server's).
struct TimeWaits {
  int towards = 0, of = 0;
};
TimeWaits time_waits(int port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line); // column names
  auto port_of = [](const std::string &address) {
    return std::stoi(address.substr(address.find(':') + 1), nullptr, 16);
  };
  TimeWaits found;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "06") {
      found.towards += port_of(remote) == port;
      found.of += port_of(local) == port;
    }
  }
  return found;
}

// Thousands of deliveries a minute to one server would use up this host's
// local ports if each left its TIME_WAIT here.
TEST(SendZabbixClose, ServerClosesFirstSoNoTimeWaitStaysHere) {
  TrapperReply reply = testing_support::trapper_success();
  reply.close_delay_ms = 20;
  FakeTrapper trapper([&](size_t) { return reply; });
  TimeWaits before = time_waits(trapper.port());
  tarn::send_zabbix(trapper.address(), "cgnat-test", "activeSessions", "42");
  auto until = Clock::now() + std::chrono::seconds(2);
  while (time_waits(trapper.port()).of == before.of && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  TimeWaits after = time_waits(trapper.port());
  EXPECT_EQ(after.towards - before.towards, 0);
  EXPECT_EQ(after.of - before.of, 1);
}

TEST(SendZabbixClose, ServerKeepingTheConnectionDelaysTheItemBriefly) {
  TrapperReply reply = testing_support::trapper_success();
  reply.hold_open = true;
  FakeTrapper trapper([&](size_t) { return reply; });
  auto start = Clock::now();
  EXPECT_NO_THROW(tarn::send_zabbix(trapper.address(), "cgnat-test",
                                    "activeSessions", "42"));
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(),
            tarn::ZABBIX_CLOSE_WAIT_MS / 1000.0 + 0.5);
  EXPECT_EQ(trapper.items().size(), 1u);
}

TEST(SendZabbixInput, BadServerAddressNamesIt) {
  try {
    tarn::send_zabbix("zabbix:99999", "h", "k", "v");
    FAIL() << "no error";
  } catch (const std::invalid_argument &error) {
    EXPECT_NE(std::string(error.what()).find("zabbix:99999"),
              std::string::npos);
  }
}

TEST(SendZabbixInput, InvalidUtf8IsRefusedBeforeSending) {
  FakeTrapper trapper;
  try {
    tarn::send_zabbix(trapper.address(), "h", "tableFull", "a\xff");
    FAIL() << "no error";
  } catch (const std::runtime_error &error) {
    EXPECT_NE(std::string(error.what()).find("UTF-8"), std::string::npos);
  }
  EXPECT_TRUE(trapper.requests().empty());
}

} // namespace
