// Zabbix runs the collector itself, as the external check of the imported
// template: the real zabbix_server for one host, a real proxy for another,
// and each run's values reach the server's history. On 7.0 also a proxy
// group: the proxy that owns the host runs the check, and a run aimed at the
// other proxy follows its redirect. One server for all.
#include "tests/support/loopback.hpp"
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
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

using testing_support::query;
using testing_support::sql_text;
using testing_support::ZabbixServer;

const std::string SERVER_HOST = "cgnat-external";
const std::string PROXY_HOST = "cgnat-external-proxy";
const std::string GROUP = "cgnat-group";
const std::vector<std::string> GROUP_PROXIES = {"cgnat-group-a",
                                                "cgnat-group-b"};
const std::string GROUP_HOST = "cgnat-external-group";
// Its own check cannot log in: only the test's run delivers for it.
const std::string REDIRECT_HOST = "cgnat-group-redirect";
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

// The proxy of the group the server gave host to.
std::string owner(const ZabbixServer &server, const std::string &host) {
  auto rows = query(server, "SELECT p.name FROM host_proxy hp JOIN proxy p "
                            "USING (proxyid) JOIN hosts h ON "
                            "h.hostid=hp.hostid WHERE h.host=" +
                                sql_text(host));
  return rows.size() == 1 ? rows[0] : "";
}

// True when the trapper at port answers a value for host with the usual
// response (zabbix_sender 6.0 takes a redirect for an incorrect answer).
bool answers_itself(const std::string &port, const std::string &host) {
  testing_support::RunOptions options;
  options.executable = "/usr/bin/zabbix_sender";
  auto sent = testing_support::run_program(
      {"zabbix_sender", "-z", "127.0.0.1", "-p", port, "-s", host, "-k",
       "cgnat.test.no.such.item", "-o", "1"},
      options);
  return sent.out.find("Response from") != std::string::npos;
}

// The server moves a new host to the other proxy of the group seconds after
// giving it to the first (balancing): waits until the hosts are spread over
// both and each proxy knows whose they are.
void wait_for_balanced_group(const ZabbixServer &server,
                             const std::map<std::string, std::string> &ports) {
  auto end = std::chrono::steady_clock::now() + WAIT_BOUND;
  for (;;) {
    std::string first = owner(server, GROUP_HOST),
                second = owner(server, REDIRECT_HOST);
    bool settled = !first.empty() && !second.empty() && first != second;
    for (const auto &host : {GROUP_HOST, REDIRECT_HOST})
      for (const auto &[name, port] : ports)
        settled = settled &&
                  answers_itself(port, host) == (name == owner(server, host));
    if (settled)
      return;
    if (std::chrono::steady_clock::now() >= end)
      throw std::runtime_error(
          "o grupo de proxies não se equilibrou: " + first + ", " + second);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

// Everything the tests share, made once for the binary.
struct Shared {
  testing_support::SimulatedDevice device{
      {"fault=slow", "slow_ms=" + DEVICE_PAUSE_MS}};
  testing_support::TempDir scripts;
  std::unique_ptr<RunningServer> running;
  std::map<std::string, std::string> proxy_ports; // by proxy name

  Shared() {
    std::filesystem::create_symlink(testing_support::collector_path(),
                                    scripts.path + "/cgnat-collector");
    // Built in place: a temporary would stop the server as it goes.
    running.reset(new RunningServer{testing_support::start_zabbix_server(
        testing_support::zabbix_state_dir("zabbix-state-external"),
        scripts.path)});
    const ZabbixServer &server = running->server;
    testing_support::start_zabbix_proxy(server, scripts.path);
    nlohmann::json macros = {{"{$CGNAT.INTERVAL}", "10s"},
                             {"{$CGNAT.SSH.PORT}", device.port},
                             {"{$CGNAT.SSH.USER}", device.user},
                             {"{$CGNAT.SSH.PASSWORD}", device.password}};
    testing_support::import_template(server, {SERVER_HOST}, macros.dump());
    testing_support::import_template(server, {PROXY_HOST}, macros.dump(),
                                     testing_support::PROXY_NAME);
    if (testing_support::zabbix_release() == "6.0")
      return;
    for (const auto &name : GROUP_PROXIES)
      proxy_ports[name] = testing_support::start_zabbix_proxy(
          server, scripts.path, name, GROUP);
    testing_support::import_template(server, {GROUP_HOST}, macros.dump(), "",
                                     GROUP);
    macros["{$CGNAT.SSH.PORT}"] = testing_support::closed_port();
    testing_support::import_template(server, {REDIRECT_HOST}, macros.dump(), "",
                                     GROUP);
    wait_for_balanced_group(server, proxy_ports);
  }
};

Shared *shared = nullptr;

class ZabbixRunsCollector : public testing::Test {
protected:
  static void SetUpTestSuite() { shared = new Shared; }
  static void TearDownTestSuite() {
    delete shared;
    shared = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(shared, nullptr) << "the server did not start";
    ASSERT_EQ(shared->device.host, "127.0.0.1")
        << "the host's interface is loopback";
  }
  static const ZabbixServer &server() { return shared->running->server; }
};

std::vector<std::string> expected_values() {
  std::vector<std::string> expected;
  for (const auto &[key, value] : testing_support::SAMPLE_VALUES)
    expected.push_back(key + "|" + value);
  std::sort(expected.begin(), expected.end());
  return expected;
}

// Waits until each host's external check delivered, then checks each.
void expect_external_deliveries(const ZabbixServer &server,
                                const std::vector<std::string> &hosts) {
  // The first check comes within one interval of the host's creation.
  auto end = std::chrono::steady_clock::now() + WAIT_BOUND;
  std::map<std::string, std::vector<std::string>> stored;
  std::map<std::string, std::string> item;
  for (;;) {
    bool all = true;
    for (const auto &host : hosts) {
      stored[host] = first_trapper_values(server, host);
      item[host] = external_item(server, host);
      all = all && delivered(stored[host], item[host]);
    }
    if (all || std::chrono::steady_clock::now() >= end)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  for (const auto &host : hosts) {
    std::sort(stored[host].begin(), stored[host].end());
    EXPECT_EQ(stored[host], expected_values()) << host;
    // Supported, no error, and at least one check completed.
    EXPECT_EQ(item[host].rfind("0||", 0), 0u) << host << ": " << item[host];
    EXPECT_NE(item[host], "0||0") << host << ": no check completed";
  }
}

TEST_F(ZabbixRunsCollector, ServerAndProxyExternalChecksDeliverAll36Values) {
  expect_external_deliveries(server(), {SERVER_HOST, PROXY_HOST});
}

TEST_F(ZabbixRunsCollector, ProxyGroupOwnersExternalCheckDeliversAll36Values) {
  if (testing_support::zabbix_release() == "6.0")
    GTEST_SKIP() << "proxy groups come with Zabbix 7.0";
  ASSERT_NE(owner(server(), GROUP_HOST), "");
  expect_external_deliveries(server(), {GROUP_HOST});
}

TEST_F(ZabbixRunsCollector, RunAimedAtTheOtherGroupProxyFollowsTheRedirect) {
  if (testing_support::zabbix_release() == "6.0")
    GTEST_SKIP() << "proxy groups come with Zabbix 7.0";
  std::string owning = owner(server(), REDIRECT_HOST);
  ASSERT_NE(owning, "");
  std::string other =
      owning == GROUP_PROXIES[0] ? GROUP_PROXIES[1] : GROUP_PROXIES[0];
  testing_support::TempDir home;
  testing_support::RunOptions options;
  options.executable = testing_support::collector_path();
  options.env = {
      {"HOME", home.path},
      {"CGNAT_ZABBIX_SERVER", "127.0.0.1:" + shared->proxy_ports.at(other)}};
  const auto &device = shared->device;
  auto result = testing_support::run_program(
      {"cgnat-collector", "discoveryLinux", device.host, device.port,
       device.user, device.password, REDIRECT_HOST},
      options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "OK\n");

  auto end = std::chrono::steady_clock::now() + WAIT_BOUND;
  auto stored = first_trapper_values(server(), REDIRECT_HOST);
  while (stored.size() < testing_support::SAMPLE_VALUES.size() &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    stored = first_trapper_values(server(), REDIRECT_HOST);
  }
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, expected_values())
      << "sent to " << other << ", owned by " << owning;

  // They came by the redirect: the other proxy takes none itself, as
  // zabbix_sender 6.0, which follows no redirect, finds.
  testing_support::RunOptions sender;
  sender.executable = "/usr/bin/zabbix_sender";
  auto plain = testing_support::run_program(
      {"zabbix_sender", "-z", "127.0.0.1", "-p", shared->proxy_ports.at(other),
       "-s", REDIRECT_HOST, "-k", "activeSessions", "-o", "1"},
      sender);
  EXPECT_EQ(plain.out.find("processed: 1"), std::string::npos) << plain.out;
}

} // namespace
