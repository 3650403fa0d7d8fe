// Against a real Zabbix server (6.0, or 7.0 with ZABBIX_RELEASE=7.0): the
// template's items, the reference sender and our own sending component.
#include "LINUX/collection/catalogue.hpp"
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/run_binary.hpp"
#include "tests/support/zabbix_server.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::zabbix_server;

const std::string HOST = "cgnat-test";
const std::string AUX_HOST = "cgnat-aux"; // for values that spoil an item

std::vector<std::string> sorted(std::vector<std::string> values) {
  std::sort(values.begin(), values.end());
  return values;
}

std::vector<std::string> host_items(const std::string &host, int type) {
  return testing_support::query(zabbix_server(),
                                "SELECT i.key_ FROM items i JOIN hosts h USING "
                                "(hostid) WHERE h.host=" +
                                    testing_support::sql_text(host) +
                                    " AND i.type=" + std::to_string(type));
}

TEST(ZabbixServer, TemplateGivesTheHostExactlyTheCollectorsTrapperItems) {
  std::vector<std::string> published;
  for (const auto &row : cgnat::PUBLISHED_ITEMS)
    published.emplace_back(row.item_key);
  EXPECT_EQ(sorted(host_items(HOST, 2)), sorted(published));
  EXPECT_EQ(host_items(HOST, 10),
            std::vector<std::string>{
                "cgnat-collector[\"launch_discoveryLinux\",\"{HOST.CONN}\","
                "\"{$CGNAT.SSH.PORT}\",\"{$CGNAT.SSH.USER}\","
                "\"{$CGNAT.SSH.PASSWORD}\",\"{HOST.HOST}\"]"});
  EXPECT_EQ(testing_support::query(
                zabbix_server(),
                "SELECT count(*) FROM triggers t WHERE EXISTS (SELECT 1 FROM "
                "functions f JOIN items i USING (itemid) JOIN hosts h USING "
                "(hostid) WHERE f.triggerid=t.triggerid AND h.host=" +
                    testing_support::sql_text(HOST) + ")"),
            std::vector<std::string>{"8"});
  // Graphs and the dashboard come with the import, not only the items.
  EXPECT_EQ(testing_support::query(
                zabbix_server(),
                "SELECT count(DISTINCT gi.graphid) FROM graphs_items gi JOIN "
                "items i USING (itemid) JOIN hosts h USING (hostid) WHERE "
                "h.host=" +
                    testing_support::sql_text(HOST)),
            std::vector<std::string>{"6"});
  EXPECT_EQ(testing_support::query(
                zabbix_server(),
                "SELECT count(*) FROM dashboard d JOIN hosts t ON "
                "t.hostid=d.templateid WHERE t.host='CGNAT Linux by SSH'"),
            std::vector<std::string>{"1"});
  // 7.0 bounds the external check by the item's own timeout (3 s when
  // unset): its form of the template sets one.
  if (testing_support::zabbix_release() != "6.0") {
    EXPECT_EQ(testing_support::query(
                  zabbix_server(),
                  "SELECT i.timeout FROM items i JOIN hosts h USING (hostid) "
                  "WHERE i.type=10 AND h.host=" +
                      testing_support::sql_text(HOST)),
              std::vector<std::string>{"30s"});
  }
}

TEST(ZabbixServer, ReferenceSenderValueReachesHistory) {
  testing_support::RunOptions options;
  options.executable = "/usr/bin/zabbix_sender";
  auto sent = testing_support::run_program(
      {"zabbix_sender", "-z", "127.0.0.1", "-p", zabbix_server().trapper_port,
       "-s", AUX_HOST, "-k", "sessionsDestroyed", "-o", "424242"},
      options);
  ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
  EXPECT_NE(sent.out.find("processed: 1; failed: 0"), std::string::npos);
  auto values = testing_support::wait_for_history(zabbix_server(), AUX_HOST,
                                                  "sessionsDestroyed", 1);
  EXPECT_EQ(values, std::vector<std::string>{"424242"});
}

TEST(ZabbixServer, SendZabbixDeliversAllThirtySixItems) {
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < cgnat::PUBLISHED_ITEMS.size(); ++i) {
    const auto &row = cgnat::PUBLISHED_ITEMS[i];
    expected.push_back(row.item_key == "tableFull"
                           ? "1"
                           : std::to_string(18446744073709551000ull + i));
    tarn::send_zabbix(zabbix_server().trapper_address, HOST,
                      std::string(row.item_key), expected.back());
  }
  for (std::size_t i = 0; i < cgnat::PUBLISHED_ITEMS.size(); ++i) {
    std::string key(cgnat::PUBLISHED_ITEMS[i].item_key);
    auto values =
        testing_support::wait_for_history(zabbix_server(), HOST, key, 1);
    EXPECT_EQ(values, std::vector<std::string>{expected[i]}) << key;
  }
}

struct RejectedCase {
  std::string name;
  std::string host;
  std::string key;
};

void PrintTo(const RejectedCase &c, std::ostream *os) { *os << c.name; }

class Rejected : public testing::TestWithParam<RejectedCase> {};

TEST_P(Rejected, ThrowsWithTheServersOwnWords) {
  try {
    tarn::send_zabbix(zabbix_server().trapper_address, GetParam().host,
                      GetParam().key, "1");
    FAIL() << "send_zabbix aceitou um valor que o servidor recusou";
  } catch (const std::runtime_error &error) {
    EXPECT_NE(std::string(error.what()).find("processed: 0; failed: 1"),
              std::string::npos)
        << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    ZabbixServer, Rejected,
    testing::Values(RejectedCase{"unknown_key", HOST, "noSuchItem"},
                    RejectedCase{"unknown_host", "cgnat-nobody",
                                 "activeSessions"},
                    RejectedCase{"subscriber_table_full_is_not_an_item", HOST,
                                 "subscriberTableFullIN"}),
    [](const auto &info) { return info.param.name; });

TEST(ZabbixServer, NothingListeningThrowsPromptly) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(tarn::send_zabbix("127.0.0.1:" + testing_support::closed_port(),
                                 HOST, "activeSessions", "1"),
               std::runtime_error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// What an operator sees when a device prints "-" where a number belongs:
// the server answers "processed: 1", keeps no value and marks the item
// unsupported until the next good value.
TEST(ZabbixServer, NonNumericDeviceValueLeavesTheItemUnsupported) {
  std::string state_query =
      "SELECT r.state FROM item_rtdata r JOIN items i USING (itemid) JOIN "
      "hosts h USING (hostid) WHERE h.host=" +
      testing_support::sql_text(AUX_HOST) + " AND i.key_='activeSessions'";
  auto wait_for_state = [&](const std::string &state) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    auto rows = testing_support::query(zabbix_server(), state_query);
    while (rows != std::vector<std::string>{state} &&
           std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      rows = testing_support::query(zabbix_server(), state_query);
    }
    return rows;
  };
  tarn::send_zabbix(zabbix_server().trapper_address, AUX_HOST, "activeSessions",
                    "-");
  EXPECT_EQ(wait_for_state("1"), std::vector<std::string>{"1"});
  tarn::send_zabbix(zabbix_server().trapper_address, AUX_HOST, "activeSessions",
                    "77");
  EXPECT_EQ(testing_support::wait_for_history(zabbix_server(), AUX_HOST,
                                              "activeSessions", 1),
            std::vector<std::string>{"77"});
  EXPECT_EQ(wait_for_state("0"), std::vector<std::string>{"0"});
}

} // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new testing_support::ZabbixEnvironment(
      "zabbix-state-end-to-end", {HOST, AUX_HOST}));
  return RUN_ALL_TESTS();
}
