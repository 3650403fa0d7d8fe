#include "tarnlibrary/zabbix_library/zabbix_library.hpp"
#include "tests/support/fake_trapper.hpp"
#include "tests/support/run_binary.hpp"

#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace {

const char *REFERENCE_SENDER = "/usr/bin/zabbix_sender";

// Magic, flags and body; the length follows from the body. zabbix_sender 7.0
// ends the request with the time it sent it, which the collector leaves to
// the server.
std::string without_send_time(const std::string &request) {
  static const std::regex send_time(R"(,"clock":\d+,"ns":\d+\}$)");
  return request.substr(0, 5) +
         std::regex_replace(request.substr(13), send_time, "}");
}

struct Case {
  std::string name, host, key, value;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const Case CASES[] = {
    {"number", "cgnat-test", "activeSessions", "42"},
    {"empty_value", "cgnat-test", "tableFull", ""},
    {"accented", "cgnat-são-paulo", "bytes", "é ção"},
    {"beyond_bmp_and_line_separator", "h", "k", "€😀\u2028<>&/"},
    {"quotes_and_backslash", "h", "key[\"a\",b]", "q\"b\\s\\\\"},
    {"common_controls", "h", "k", "a\tb\nc\rd\be\ff"},
    {"other_controls_and_delete", "h", "k", "\x01\x0b\x1b[0m\x1f\x7f"},
};

class WireFormat : public testing::TestWithParam<Case> {};

TEST_P(WireFormat, SameBytesAsReferenceSender) {
  if (access(REFERENCE_SENDER, X_OK) != 0)
    GTEST_SKIP() << REFERENCE_SENDER << " not installed";
  const Case &c = GetParam();
  testing_support::FakeTrapper trapper;
  testing_support::RunOptions options;
  options.executable = REFERENCE_SENDER;
  options.time_limit = 10;
  auto reference = testing_support::run_program(
      {"zabbix_sender", "-z", "127.0.0.1", "-p", std::to_string(trapper.port()),
       "-s", c.host, "-k", c.key, "-o", c.value},
      options);
  ASSERT_EQ(reference.status, 0) << reference.out << reference.err;
  tarn::send_zabbix(trapper.address(), c.host, c.key, c.value);

  auto requests = trapper.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(without_send_time(requests[1]), without_send_time(requests[0]));
  uint32_t announced = 0;
  for (int i = 8; i >= 5; --i)
    announced = (announced << 8) | static_cast<unsigned char>(requests[1][i]);
  EXPECT_EQ(announced, requests[1].size() - 13);
  EXPECT_EQ(trapper.items()[1],
            (testing_support::SentItem{c.host, c.key, c.value}));
}

INSTANTIATE_TEST_SUITE_P(ReferenceSender, WireFormat, testing::ValuesIn(CASES),
                         [](const auto &info) { return info.param.name; });

} // namespace
