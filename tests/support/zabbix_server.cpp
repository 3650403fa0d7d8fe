#include "tests/support/zabbix_server.hpp"

#include "tests/support/run_binary.hpp"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {
namespace {

const std::string SCRIPTS =
    std::string(CGNAT_SOURCE_DIR) + "/zabbix_test_server/";

std::optional<ZabbixServer> &started_server() {
  static std::optional<ZabbixServer> server;
  return server;
}

// extra: variables for the script, left out when empty.
RunResult
run_script(const std::vector<std::string> &words, const std::string &state_dir,
           double time_limit,
           const std::vector<std::pair<std::string, std::string>> &extra = {}) {
  RunOptions options;
  options.executable = words.front();
  options.time_limit = time_limit;
  options.env = {{"CGNAT_ZBX_STATE", state_dir}};
  for (const auto &[name, value] : extra)
    if (!value.empty())
      options.env.emplace_back(name, value);
  RunResult result = run_program(words, options);
  if (result.status != 0)
    throw std::runtime_error(words.front() + " falhou (status " +
                             std::to_string(result.status) +
                             (result.timed_out ? ", tempo esgotado" : "") +
                             "):\n" + result.err + result.out);
  return result;
}

std::map<std::string, std::string> read_env_file(const std::string &path) {
  std::ifstream file(path);
  if (!file)
    throw std::runtime_error("arquivo env ausente: " + path);
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(file, line);) {
    auto equals = line.find('=');
    if (equals != std::string::npos)
      values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

// start.sh leaves its servers orphaned; adopting them lets this process
// reap them after stop.sh instead of leaving zombies behind.
void reap_adopted_children() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

} // namespace

std::string zabbix_release() {
  const char *release = std::getenv("ZABBIX_RELEASE");
  return release && *release ? release : "6.0";
}

std::string zabbix_state_dir(const std::string &name) {
  std::string dir = std::string(CGNAT_BUILD_DIR) + "/" + name;
  return zabbix_release() == "6.0" ? dir : dir + "-" + zabbix_release();
}

ZabbixServer start_zabbix_server(const std::string &state_dir,
                                 const std::string &external_scripts) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  run_script({SCRIPTS + "start.sh", state_dir}, state_dir, 240,
             {{"CGNAT_ZBX_EXTERNAL_SCRIPTS", external_scripts}});
  auto env = read_env_file(state_dir + "/env");
  return {state_dir,
          env.at("ZBX_TRAPPER_ADDRESS"),
          env.at("ZBX_TRAPPER_PORT"),
          env.at("ZBX_API_URL"),
          env.at("ZBX_PG_SOCKET_DIR"),
          env.at("ZBX_PG_PORT")};
}

void import_template(const ZabbixServer &server,
                     const std::vector<std::string> &hosts,
                     const std::string &host_macros, const std::string &proxy,
                     const std::string &proxy_group) {
  std::vector<std::string> words{SCRIPTS + "import_template.sh"};
  words.insert(words.end(), hosts.begin(), hosts.end());
  run_script(words, server.state_dir, 180,
             {{"CGNAT_ZBX_HOST_MACROS", host_macros},
              {"CGNAT_ZBX_HOST_PROXY", proxy},
              {"CGNAT_ZBX_HOST_PROXY_GROUP", proxy_group}});
}

std::string start_zabbix_proxy(const ZabbixServer &server,
                               const std::string &external_scripts,
                               const std::string &name,
                               const std::string &group) {
  std::vector<std::string> words{SCRIPTS + "start_proxy.sh", server.state_dir,
                                 name};
  if (!group.empty())
    words.push_back(group);
  run_script(words, server.state_dir, 120,
             {{"CGNAT_ZBX_EXTERNAL_SCRIPTS", external_scripts}});
  return read_env_file(server.state_dir + "/env").at("ZBX_PROXY_PORT");
}

void stop_zabbix_server(const ZabbixServer &server) {
  run_script({SCRIPTS + "stop.sh", server.state_dir}, server.state_dir, 60);
  reap_adopted_children();
}

std::string sql_text(const std::string &text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

std::vector<std::string> query(const ZabbixServer &server,
                               const std::string &sql) {
  RunOptions options;
  options.executable = "/usr/bin/psql";
  options.time_limit = 30;
  RunResult result = run_program(
      {"psql", "-h", server.pg_socket_dir, "-p", server.pg_port, "-U", "zabbix",
       "-d", "zabbix", "-X", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-c", sql},
      options);
  if (result.status != 0)
    throw std::runtime_error("psql falhou em \"" + sql + "\": " + result.err);
  std::vector<std::string> rows;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);)
    rows.push_back(line);
  return rows;
}

std::vector<std::string> history_values(const ZabbixServer &server,
                                        const std::string &host,
                                        const std::string &key) {
  static const std::map<std::string, std::string> TABLE_BY_TYPE{
      {"0", "history"},
      {"1", "history_str"},
      {"2", "history_log"},
      {"3", "history_uint"},
      {"4", "history_text"}};
  auto item =
      query(server, "SELECT i.itemid || '|' || i.value_type FROM "
                    "items i JOIN hosts h USING (hostid) WHERE h.host=" +
                        sql_text(host) + " AND i.key_=" + sql_text(key));
  if (item.size() != 1)
    throw std::runtime_error("item " + key + " do host " + host +
                             " não existe no servidor de teste");
  auto bar = item[0].find('|');
  return query(server, "SELECT value FROM " +
                           TABLE_BY_TYPE.at(item[0].substr(bar + 1)) +
                           " WHERE itemid=" + item[0].substr(0, bar) +
                           " ORDER BY clock, ns");
}

std::vector<std::string> wait_for_history(const ZabbixServer &server,
                                          const std::string &host,
                                          const std::string &key,
                                          std::size_t count, double seconds) {
  auto end = std::chrono::steady_clock::now() +
             std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  for (;;) {
    auto values = history_values(server, host, key);
    if (values.size() >= count || std::chrono::steady_clock::now() >= end)
      return values;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

ZabbixEnvironment::ZabbixEnvironment(std::string state_name,
                                     std::vector<std::string> hosts)
    : state_name_(std::move(state_name)), hosts_(std::move(hosts)) {}

void ZabbixEnvironment::SetUp() {
  std::string state_dir = zabbix_state_dir(state_name_);
  try {
    // A run killed before its TearDown leaves its server behind: begin fresh.
    run_script({SCRIPTS + "stop.sh", state_dir}, state_dir, 60);
    started_server() = start_zabbix_server(state_dir);
    import_template(*started_server(), hosts_);
  } catch (const std::exception &error) {
    if (started_server())
      stop_zabbix_server(*started_server());
    started_server().reset();
    FAIL() << error.what();
  }
}

void ZabbixEnvironment::TearDown() {
  if (started_server())
    stop_zabbix_server(*started_server());
  started_server().reset();
}

const ZabbixServer &zabbix_server() {
  if (!started_server())
    throw std::runtime_error("o servidor Zabbix de teste não subiu");
  return *started_server();
}

} // namespace testing_support
