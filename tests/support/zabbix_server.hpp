// A private real Zabbix server for end-to-end tests: started by the
// zabbix_test_server scripts, read back through psql on its own socket. The
// release is ZABBIX_RELEASE's (6.0 by default; 7.0 runs in the Debian 13
// root), so one test binary serves both.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

struct ZabbixServer {
  std::string state_dir;
  std::string trapper_address; // "127.0.0.1:PORT", as send_zabbix takes it
  std::string trapper_port;
  std::string api_url;
  std::string pg_socket_dir;
  std::string pg_port;
};

// Starts the server with its state under state_dir (or finds it running
// there) and returns its addresses. Throws with the script's output.
// With external_scripts, its pollers run the external checks found there.
// "6.0" or "7.0": the release the scripts start.
std::string zabbix_release();

// Where a test's server keeps its state: a folder of the build named after
// the test, one per release (both may run at once).
std::string zabbix_state_dir(const std::string &name);

ZabbixServer start_zabbix_server(const std::string &state_dir,
                                 const std::string &external_scripts = "");

// Imports the collector's template and creates these hosts linked to it,
// each with host_macros (a JSON object, macro to value) when given and
// monitored by the named proxy, or else the named proxy group (7.0), when
// given; returns once the server (or the proxy that owns them) accepts
// values for them.
void import_template(const ZabbixServer &server,
                     const std::vector<std::string> &hosts,
                     const std::string &host_macros = "",
                     const std::string &proxy = "",
                     const std::string &proxy_group = "");

// The name start_zabbix_proxy registers its proxy under.
inline const std::string PROXY_NAME = "cgnat-proxy";

// Starts an active Zabbix proxy for the server, stopped with it, registered
// as name and, when group is given (7.0), as a member of that proxy group;
// its pollers run the external checks in external_scripts. Returns its
// trapper port.
std::string start_zabbix_proxy(const ZabbixServer &server,
                               const std::string &external_scripts,
                               const std::string &name = PROXY_NAME,
                               const std::string &group = "");

// Stops every process of the server by pid and reaps them.
void stop_zabbix_server(const ZabbixServer &server);

// Rows of a query on the server's database, columns joined by '|'.
std::vector<std::string> query(const ZabbixServer &server,
                               const std::string &sql);

// Quotes text as an SQL literal.
std::string sql_text(const std::string &text);

// Values stored for host's item key, in arrival order.
std::vector<std::string> history_values(const ZabbixServer &server,
                                        const std::string &host,
                                        const std::string &key);

// Polls history_values until it holds at least count values or seconds
// passed; returns what it last read.
std::vector<std::string> wait_for_history(const ZabbixServer &server,
                                          const std::string &host,
                                          const std::string &key,
                                          std::size_t count,
                                          double seconds = 15);

// Starts the server once per test binary, imports the template with these
// hosts, and stops it when the binary ends, whatever the tests did.
class ZabbixEnvironment : public ::testing::Environment {
public:
  ZabbixEnvironment(std::string state_name, std::vector<std::string> hosts);
  void SetUp() override;
  void TearDown() override;

private:
  std::string state_name_;
  std::vector<std::string> hosts_;
};

// The server the environment started; fails the test when there is none.
const ZabbixServer &zabbix_server();

} // namespace testing_support
