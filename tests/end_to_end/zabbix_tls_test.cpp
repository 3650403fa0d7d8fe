// Encrypted delivery against the real server: one host that accepts only
// PSK, one only certificates. Each row is a whole collector run, with
// zabbix_sender under the same settings as the reference peer.
#include "LINUX/collection/catalogue.hpp"
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/support/zabbix_server.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

using namespace fault_matrix;
using testing_support::zabbix_server;

const std::string PSK_HOST = "cgnat-tls-psk", CERT_HOST = "cgnat-tls-cert";
const std::string IDENTITY = "cgnat-collector-psk";

testing_support::TempDir &files() {
  static testing_support::TempDir dir;
  return dir;
}
std::string file(const std::string &name) { return files().path + "/" + name; }

std::map<std::string, std::string> names() {
  std::map<std::string, std::string> values;
  std::istringstream lines(testing_support::read_text(file("names.env")));
  for (std::string line; std::getline(lines, line);)
    values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  return values;
}

// Per item key of host: how many values are stored and the latest one, in
// one query (the server files values by type in three tables).
std::map<std::string, std::pair<size_t, std::string>>
stored_by_key(const std::string &host) {
  std::string values = "SELECT itemid, clock, ns, value::text AS v FROM "
                       "history_uint UNION ALL SELECT itemid, clock, ns, "
                       "value::text FROM history UNION ALL SELECT itemid, "
                       "clock, ns, value FROM history_str";
  auto rows = testing_support::query(
      zabbix_server(),
      "SELECT i.key_ || '|' || count(v.v) || '|' || coalesce((array_agg(v.v "
      "ORDER BY v.clock DESC, v.ns DESC))[1], '') FROM items i JOIN hosts h "
      "USING (hostid) LEFT JOIN (" +
          values + ") v USING (itemid) WHERE h.host=" +
          testing_support::sql_text(host) + " GROUP BY i.key_");
  std::map<std::string, std::pair<size_t, std::string>> stored;
  for (const std::string &row : rows) {
    size_t first = row.find('|'), second = row.find('|', first + 1);
    stored[row.substr(0, first)] = {
        std::stoul(row.substr(first + 1, second - first - 1)),
        row.substr(second + 1)};
  }
  return stored;
}

class TlsEnvironment : public testing_support::ZabbixEnvironment {
public:
  TlsEnvironment()
      : ZabbixEnvironment("zabbix-state-tls", {PSK_HOST, CERT_HOST}) {}
  void SetUp() override {
    ASSERT_EQ(
        std::system(("bash " + std::string(CGNAT_SOURCE_DIR) +
                     "/zabbix_test_server/make_tls_files.sh " + files().path)
                        .c_str()),
        0);
    setenv("CGNAT_ZBX_TLS_CA_FILE", file("ca.crt").c_str(), 1);
    setenv("CGNAT_ZBX_TLS_CERT_FILE", file("server.crt").c_str(), 1);
    setenv("CGNAT_ZBX_TLS_KEY_FILE", file("server.key").c_str(), 1);
    ZabbixEnvironment::SetUp();
    if (testing::Test::HasFatalFailure())
      return;
    std::string key = testing_support::read_text(file("psk.key"));
    key.pop_back();
    testing_support::query(
        zabbix_server(),
        "UPDATE hosts SET tls_accept=2, tls_psk_identity=" +
            testing_support::sql_text(IDENTITY) +
            ", tls_psk=" + testing_support::sql_text(key) +
            " WHERE host=" + testing_support::sql_text(PSK_HOST));
    testing_support::query(zabbix_server(),
                           "UPDATE hosts SET tls_accept=4 WHERE host=" +
                               testing_support::sql_text(CERT_HOST));
    sleep(3); // the server's cache takes it within about a second
  }
};

struct TlsCase {
  std::string name;
  std::string host;
  std::vector<std::pair<std::string, std::string>> settings; // variable, value
  std::string failure_part; // in every failure line; empty: all stored
};
void PrintTo(const TlsCase &c, std::ostream *os) { *os << c.name; }

// zabbix_sender's option for each of our variables.
std::string sender_option(const std::string &variable) {
  std::string option =
      "--tls-" + variable.substr(sizeof "CGNAT_ZABBIX_TLS_" - 1);
  for (char &c : option)
    c = c == '_' ? '-' : static_cast<char>(std::tolower(c));
  return option;
}

class Encrypted : public testing::TestWithParam<TlsCase> {};

TEST_P(Encrypted, StoresOrFailsEveryItemClearly) {
  const TlsCase &c = GetParam();
  const std::string &server = zabbix_server().trapper_address;
  std::vector<std::pair<std::string, std::string>> settings = c.settings;
  for (auto &[variable, value] : settings)
    if (value.starts_with("@"))
      value = file(value.substr(1));
    else if (value.starts_with("$"))
      value = names().at(value.substr(1));

  testing_support::SimulatedDevice device(device_options());
  testing_support::TempDir home;
  Env env{{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", server}};
  for (const auto &[variable, value] : settings)
    env.push_back({variable, value});
  std::string first_key(cgnat::PUBLISHED_ITEMS[0].item_key);
  auto before = stored_by_key(c.host);

  auto result = run({"discoveryLinux", device.host, device.port, device.user,
                     device.password, c.host},
                    false, env);

  expect_sound_run(result, 30);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(masked(result.err), "");
  if (c.failure_part.empty()) {
    EXPECT_EQ(masked(result.out), "OK\n");
    std::vector<std::string> values = sample_values();
    auto now = stored_by_key(c.host);
    for (int tries = 0; tries < 100 && now.size() == before.size(); ++tries) {
      bool all = true;
      for (const auto &published : cgnat::PUBLISHED_ITEMS) {
        std::string key(published.item_key);
        all = all && now[key].first > before[key].first;
      }
      if (all)
        break;
      usleep(200'000);
      now = stored_by_key(c.host);
    }
    for (size_t i = 0; i < cgnat::PUBLISHED_ITEMS.size(); ++i) {
      std::string key(cgnat::PUBLISHED_ITEMS[i].item_key);
      // An earlier row's values may still be on their way to the history.
      EXPECT_GE(now[key].first, before[key].first + 1) << key;
      EXPECT_EQ(now[key].second, values[i]) << key;
    }
  } else {
    expect_failure_lines(result.out, server, c.failure_part);
  }

  // The reference peer agrees on success or failure.
  std::vector<std::string> words{"zabbix_sender",
                                 "-z",
                                 "127.0.0.1",
                                 "-p",
                                 zabbix_server().trapper_port,
                                 "-s",
                                 c.host,
                                 "-k",
                                 first_key,
                                 "-o",
                                 "7"};
  for (const auto &[variable, value] : settings)
    words.insert(words.end(), {sender_option(variable), value});
  testing_support::RunOptions options;
  options.executable = "/usr/bin/zabbix_sender";
  options.time_limit = 20;
  auto reference = testing_support::run_program(words, options);
  EXPECT_EQ(reference.out.find("processed: 1") != std::string::npos,
            c.failure_part.empty())
      << reference.out << reference.err;
}

const std::vector<std::pair<std::string, std::string>> PSK = {
    {"CGNAT_ZABBIX_TLS_CONNECT", "psk"},
    {"CGNAT_ZABBIX_TLS_PSK_IDENTITY", IDENTITY},
    {"CGNAT_ZABBIX_TLS_PSK_FILE", "@psk.key"}};
const std::vector<std::pair<std::string, std::string>> CERT = {
    {"CGNAT_ZABBIX_TLS_CONNECT", "cert"},
    {"CGNAT_ZABBIX_TLS_CA_FILE", "@ca.crt"},
    {"CGNAT_ZABBIX_TLS_CERT_FILE", "@client.crt"},
    {"CGNAT_ZABBIX_TLS_KEY_FILE", "@client.key"}};

std::vector<std::pair<std::string, std::string>>
with(std::vector<std::pair<std::string, std::string>> base,
     const std::vector<std::pair<std::string, std::string>> &changes) {
  for (const auto &change : changes) {
    bool replaced = false;
    for (auto &setting : base)
      if (setting.first == change.first)
        setting.second = change.second, replaced = true;
    if (!replaced)
      base.push_back(change);
  }
  return base;
}

const std::string CHECK_PSK = "confira identidade e chave";

INSTANTIATE_TEST_SUITE_P(
    RealServer, Encrypted,
    testing::Values(
        TlsCase{"psk", PSK_HOST, PSK, ""},
        TlsCase{"psk_wrong_key", PSK_HOST,
                with(PSK, {{"CGNAT_ZABBIX_TLS_PSK_FILE", "@other.key"}}),
                CHECK_PSK},
        TlsCase{"psk_unknown_identity", PSK_HOST,
                with(PSK, {{"CGNAT_ZABBIX_TLS_PSK_IDENTITY", "nobody"}}),
                CHECK_PSK},
        TlsCase{
            "unencrypted_to_psk_host", PSK_HOST, {}, "processed: 0; failed: 1"},
        TlsCase{"cert", CERT_HOST, CERT, ""},
        TlsCase{
            "cert_with_server_names", CERT_HOST,
            with(CERT,
                 {{"CGNAT_ZABBIX_TLS_SERVER_CERT_ISSUER", "$SERVER_ISSUER"},
                  {"CGNAT_ZABBIX_TLS_SERVER_CERT_SUBJECT", "$SERVER_SUBJECT"},
                  {"CGNAT_ZABBIX_TLS_CRL_FILE", "@ca.crl"}}),
            ""},
        TlsCase{"cert_wrong_ca", CERT_HOST,
                with(CERT, {{"CGNAT_ZABBIX_TLS_CA_FILE", "@other_ca.crt"}}),
                "o certificado do servidor não foi aceito"},
        TlsCase{"cert_wrong_subject", CERT_HOST,
                with(CERT, {{"CGNAT_ZABBIX_TLS_SERVER_CERT_SUBJECT",
                             "CN=someone-else,O=CGNAT Test,C=BR"}}),
                "o assunto do certificado do servidor é"},
        TlsCase{
            "cert_client_from_unknown_ca", CERT_HOST,
            with(CERT, {{"CGNAT_ZABBIX_TLS_CERT_FILE", "@other_client.crt"},
                        {"CGNAT_ZABBIX_TLS_KEY_FILE", "@other_client.key"}}),
            "recusado o certificado do cliente"}),
    [](const auto &info) { return info.param.name; });

} // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new TlsEnvironment);
  return RUN_ALL_TESTS();
}
