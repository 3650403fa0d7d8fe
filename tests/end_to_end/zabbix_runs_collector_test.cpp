// Zabbix runs the collector itself, as the external check of the imported
// template: the real zabbix_server for one host, a real proxy for another,
// and each run's values reach the server's history.
#include "tests/support/run_binary.hpp"
#include "tests/support/sample_values.hpp"
#include "tests/support/zabbix_server.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

namespace {

using testing_support::query;
using testing_support::sql_text;
using testing_support::ZabbixServer;

const std::string SERVER_HOST = "cgnat-external";
const std::string PROXY_HOST = "cgnat-external-proxy";
// Each device answer waits this long, so a run outlasts the server's
// 3 s Timeout: a run that kept Zabbix's pipe would make the check fail.
const std::string DEVICE_PAUSE_MS = "1000";
constexpr auto WAIT_BOUND = std::chrono::seconds(60);

// Stops the server whatever the test did.
struct RunningServer {
  ZabbixServer server;
  ~RunningServer() { testing_support::stop_zabbix_server(server); }
};

// "key|value" of the first value stored for each trapper item of host.
std::vector<std::string> first_trapper_values(const ZabbixServer &server,
                                              const std::string &host) {
  return query(server,
               "SELECT DISTINCT ON (i.key_) i.key_ || '|' || v.value FROM "
               "history_uint v JOIN items i USING (itemid) JOIN hosts h "
               "USING (hostid) WHERE h.host=" +
                   sql_text(host) +
                   " AND i.type=2 ORDER BY i.key_, v.clock, v.ns");
}

// "state|error|values stored" of host's external item.
std::string external_item(const ZabbixServer &server, const std::string &host) {
  auto rows = query(
      server, "SELECT r.state || '|' || r.error || '|' || (SELECT count(*) "
              "FROM history_text t WHERE t.itemid=i.itemid) FROM items i "
              "JOIN hosts h USING (hostid) JOIN item_rtdata r USING (itemid) "
              "WHERE h.host=" +
                  sql_text(host) + " AND i.type=10");
  return rows.size() == 1 ? rows[0] : "no external item";
}

bool delivered(const std::vector<std::string> &stored,
               const std::string &item) {
  return stored.size() >= testing_support::SAMPLE_VALUES.size() &&
         item.rfind("0||", 0) == 0 && item != "0||0";
}

TEST(ZabbixRunsCollector, ServerAndProxyExternalChecksDeliverAll36Values) {
  testing_support::SimulatedDevice device(
      {"fault=slow", "slow_ms=" + DEVICE_PAUSE_MS});
  ASSERT_EQ(device.host, "127.0.0.1") << "the host's interface is loopback";

  testing_support::TempDir scripts;
  std::filesystem::create_symlink(testing_support::collector_path(),
                                  scripts.path + "/cgnat-collector");
  std::string state_dir =
      testing_support::zabbix_state_dir("zabbix-state-external");
  RunningServer running{
      testing_support::start_zabbix_server(state_dir, scripts.path)};
  testing_support::start_zabbix_proxy(running.server, scripts.path);
  nlohmann::json macros = {{"{$CGNAT.INTERVAL}", "10s"},
                           {"{$CGNAT.SSH.PORT}", device.port},
                           {"{$CGNAT.SSH.USER}", device.user},
                           {"{$CGNAT.SSH.PASSWORD}", device.password}};
  testing_support::import_template(running.server, {SERVER_HOST},
                                   macros.dump());
  testing_support::import_template(running.server, {PROXY_HOST}, macros.dump(),
                                   testing_support::PROXY_NAME);

  std::vector<std::string> expected;
  for (const auto &[key, value] : testing_support::SAMPLE_VALUES)
    expected.push_back(key + "|" + value);
  std::sort(expected.begin(), expected.end());

  // The first check comes within one interval of the host's creation.
  auto end = std::chrono::steady_clock::now() + WAIT_BOUND;
  const std::string hosts[] = {SERVER_HOST, PROXY_HOST};
  std::map<std::string, std::vector<std::string>> stored;
  std::map<std::string, std::string> item;
  for (;;) {
    bool all = true;
    for (const auto &host : hosts) {
      stored[host] = first_trapper_values(running.server, host);
      item[host] = external_item(running.server, host);
      all = all && delivered(stored[host], item[host]);
    }
    if (all || std::chrono::steady_clock::now() >= end)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  for (const auto &host : hosts) {
    std::sort(stored[host].begin(), stored[host].end());
    EXPECT_EQ(stored[host], expected) << host;
    // Supported, no error, and at least one check completed.
    EXPECT_EQ(item[host].rfind("0||", 0), 0u) << host << ": " << item[host];
    EXPECT_NE(item[host], "0||0") << host << ": no check completed";
  }
}

} // namespace
