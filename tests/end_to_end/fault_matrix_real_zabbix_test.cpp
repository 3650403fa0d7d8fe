// Fault-matrix rows that need the real Zabbix server's own judgement: a host
// it does not know gets every value refused in the server's words, while the
// same run for a host it knows is stored whole.
#include "LINUX/collection/catalogue.hpp"
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/support/zabbix_server.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

namespace {

using namespace fault_matrix;
using testing_support::zabbix_server;

const std::string KNOWN_HOST = "cgnat-fault-known";

struct ServerCase {
  std::string name;
  std::string zabbix_host;
  std::string failure_part; // in every failure line; empty: all stored
};
void PrintTo(const ServerCase &c, std::ostream *os) { *os << c.name; }

class RealServer : public testing::TestWithParam<ServerCase> {};

TEST_P(RealServer, AnswersEveryItem) {
  const ServerCase &c = GetParam();
  testing_support::SimulatedDevice device(device_options());
  testing_support::TempDir home;
  const std::string &server = zabbix_server().trapper_address;

  auto result =
      run({"discoveryLinux", device.host, device.port, device.user,
           device.password, c.zabbix_host},
          false, {{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", server}});

  expect_sound_run(result, 30);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(masked(result.err), "");
  if (!c.failure_part.empty()) {
    expect_failure_lines(result.out, server, c.failure_part);
    return;
  }
  EXPECT_EQ(masked(result.out), "OK\n");
  std::vector<std::string> values = sample_values();
  for (size_t i = 0; i < cgnat::PUBLISHED_ITEMS.size(); ++i) {
    std::string key(cgnat::PUBLISHED_ITEMS[i].item_key);
    EXPECT_EQ(testing_support::wait_for_history(zabbix_server(), c.zabbix_host,
                                                key, 1),
              std::vector<std::string>{values[i]})
        << key;
  }
}

INSTANTIATE_TEST_SUITE_P(
    FaultMatrix, RealServer,
    testing::Values(ServerCase{"unknown_host", "cgnat-fault-nobody",
                               "processed: 0; failed: 1"},
                    ServerCase{"known_host", KNOWN_HOST, ""}),
    [](const auto &info) { return info.param.name; });

} // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new testing_support::ZabbixEnvironment(
      "zabbix-state-fault-matrix", {KNOWN_HOST}));
  return RUN_ALL_TESTS();
}
