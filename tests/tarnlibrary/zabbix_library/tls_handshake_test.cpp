// A server that takes the connection but never completes the TLS handshake:
// the delivery ends by its own limit, or at the run's deadline, and names the
// server instead of hanging.
#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"
#include "tests/support/fake_trapper.hpp"
#include "tests/tarnlibrary/zabbix_library/psk_mode.hpp"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using testing_support::FakeTrapper;
using testing_support::TrapperReply;
using Clock = std::chrono::steady_clock;
using testing_support::psk_mode;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Built by a call, not a brace list: GCC 12 at -O3 warns on the latter.
TrapperReply reply(std::string bytes, bool read_request, bool hold_open) {
  return {std::move(bytes), 0, read_request, hold_open};
}

struct HandshakeCase {
  std::string name;
  TrapperReply reply;
  std::string failure; // after "servidor Zabbix 127.0.0.1:port: "
  double within;       // seconds
};
void PrintTo(const HandshakeCase &c, std::ostream *os) { *os << c.name; }

const double EXCHANGE_LIMIT = tarn::ZABBIX_EXCHANGE_LIMIT_MS / 1000.0;

const HandshakeCase CASES[] = {
    // Accepts, reads the ClientHello and never says a word.
    {"silent_server", reply("", false, true), "tempo esgotado no handshake TLS",
     EXCHANGE_LIMIT + 1},
    // The first bytes of a handshake record announcing 80, then the close.
    {"closes_mid_record",
     reply(std::string("\x16\x03\x03\x00\x50\x02", 6), false, false),
     "confira identidade e chave", 1},
    // Closes without a byte, as the server does on an unknown identity.
    {"closes_at_once", reply("", false, false), "confira identidade e chave",
     1},
};

class TlsHandshake : public testing::TestWithParam<HandshakeCase> {};

TEST_P(TlsHandshake, EndsInTimeNamingTheServer) {
  const HandshakeCase &c = GetParam();
  testing_support::TempDir dir;
  tarn::ZabbixTls tls = psk_mode(dir);
  FakeTrapper server([&](size_t) { return c.reply; });
  auto start = Clock::now();
  std::string failure;
  try {
    tarn::send_zabbix(server.address(), "cgnat-test", "activeSessions", "42",
                      tls);
  } catch (const std::runtime_error &error) {
    failure = error.what();
  }
  EXPECT_LT(seconds_since(start), c.within);
  EXPECT_EQ(failure.rfind("servidor Zabbix " + server.address() + ": ", 0), 0u)
      << failure;
  EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
  EXPECT_EQ(server.requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Peer, TlsHandshake, testing::ValuesIn(CASES),
                         [](const auto &info) { return info.param.name; });

TEST(TlsHandshakeBound, RunDeadlineCutsTheHandshake) {
  testing_support::TempDir dir;
  tarn::ZabbixTls tls = psk_mode(dir);
  FakeTrapper server([](size_t) { return reply("", false, true); });
  auto guard = tarn::runtime_limiter(1);
  guard.enter();
  auto start = Clock::now();
  EXPECT_THROW(tarn::send_zabbix(server.address(), "h", "k", "v", tls),
               tarn::TimeoutException);
  EXPECT_LT(seconds_since(start), 2.0);
  guard.exit(nullptr);
  EXPECT_EQ(server.requests().size(), 1u);
}

} // namespace
