// The device answers; the Zabbix side fails in each way a network or a
// trapper can. Every failed delivery gets its own line naming the server and
// the run still ends with "OK", unless the run's bound cuts it short.
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

namespace {

using namespace fault_matrix;
using testing_support::FakeTrapper;
using testing_support::SentItem;
using testing_support::TrapperReply;

TrapperReply silence() {
  return {.bytes = "", .read_request = true, .hold_open = true};
}

TrapperReply garbage() { return {"HTTP/1.1 400 Bad Request\r\n\r\n"}; }

TrapperReply hang_up_unread() { return {.bytes = "", .read_request = false}; }

TrapperReply cut_short() {
  return {testing_support::trapper_success().bytes.substr(0, 30)};
}

// Two answers slower than a busy server's usual, within the exchange limit.
TrapperReply slow_at_the_ends(size_t connection) {
  TrapperReply reply = testing_support::trapper_success();
  if (connection == 0 || connection == 35)
    reply.delay_ms = 3000;
  return reply;
}

struct DeliveryCase {
  std::string name;
  FakeTrapper::Script script = [](size_t) {
    return testing_support::trapper_success();
  };
  bool refused = false; // nobody listens at the server's address
  bool short_bound = false;
  double within = 20;
  std::string failure_part = {}; // in every failure line; empty: none fail
  size_t requests = 36;          // connections the trapper took
  bool requests_read = true;     // the trapper read what came in
  bool times_out = false;        // ends at the bound with its text
};
void PrintTo(const DeliveryCase &c, std::ostream *os) { *os << c.name; }

class DeliveryFault : public testing::TestWithParam<DeliveryCase> {};

TEST_P(DeliveryFault, EveryItemIsAccountedFor) {
  const DeliveryCase &c = GetParam();
  testing_support::SimulatedDevice device(device_options());
  testing_support::TempDir home;
  FakeTrapper trapper(c.script);
  std::string server =
      c.refused ? "127.0.0.1:" + closed_port() : trapper.address();

  auto result = run({"discoveryLinux", device.host, device.port, device.user,
                     device.password, ZABBIX_HOST},
                    c.short_bound,
                    {{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", server}});

  expect_sound_run(result, c.within);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(masked(result.err), "");
  if (c.times_out)
    EXPECT_EQ(masked(result.out),
              timeout_text(testing_support::SHORT_BOUND) + "\n");
  else if (c.failure_part.empty())
    EXPECT_EQ(masked(result.out), "OK\n");
  else
    expect_failure_lines(result.out, server, c.failure_part);
  EXPECT_EQ(trapper.requests().size(), c.requests);
  std::vector<SentItem> expected = expected_items(ZABBIX_HOST);
  expected.resize(c.requests_read ? c.requests : 0);
  EXPECT_EQ(trapper.items(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    FaultMatrix, DeliveryFault,
    testing::Values(
        DeliveryCase{.name = "server_refuses",
                     .refused = true,
                     .failure_part = "recusad",
                     .requests = 0},
        // The per-delivery limit is longer than the short bound: the bound
        // ends the run during the first delivery.
        DeliveryCase{.name = "server_silent",
                     .script = [](size_t) { return silence(); },
                     .short_bound = true,
                     .within = testing_support::SHORT_BOUND + 5,
                     .requests = 1,
                     .times_out = true},
        DeliveryCase{.name = "garbage_answer",
                     .script = [](size_t) { return garbage(); },
                     .failure_part = "resposta malformada"},
        DeliveryCase{.name = "closes_before_reading",
                     .script = [](size_t) { return hang_up_unread(); },
                     .failure_part = "conex",
                     .requests_read = false},
        DeliveryCase{.name = "answer_cut_short",
                     .script = [](size_t) { return cut_short(); },
                     .failure_part = "resposta truncada"},
        DeliveryCase{
            .name = "every_item_rejected",
            .script =
                [](size_t) { return testing_support::trapper_rejection(); },
            .failure_part = "processed: 0; failed: 1"},
        DeliveryCase{.name = "slow_answers", .script = slow_at_the_ends}),
    [](const auto &info) { return info.param.name; });

} // namespace
