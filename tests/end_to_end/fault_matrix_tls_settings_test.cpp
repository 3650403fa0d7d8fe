// Each bad encryption setting ends the run before the device is contacted:
// one error line naming the setting, never a key's content, status 1. The
// limits themselves pass, and the run goes on to the device.
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace fault_matrix;
using testing_support::FakeTrapper;
using testing_support::TempDir;

// Distinctive, so that any leak of it can be looked for.
const std::string PSK_HEX =
    "5ec2e7f00dc0ffee1234abcd5678ef90a1b2c3d4e5f60718293a4b5c6d7e8f90";

std::string hex_digits(size_t count) {
  std::string digits;
  while (digits.size() < count)
    digits += PSK_HEX;
  return digits.substr(0, count);
}

std::string characters(size_t count, const std::string &character) {
  std::string text;
  for (size_t i = 0; i < count; ++i)
    text += character;
  return text;
}

// Key files the rows name as "@file"; the certificates come from
// make_tls_files.sh.
const std::vector<std::pair<std::string, std::string>> KEY_FILES = {
    {"right.key", PSK_HEX + "\n"},
    {"crlf.key", PSK_HEX + "\r\n"},
    {"shortest.key", hex_digits(32)},
    {"longest.key", hex_digits(512) + "\n"},
    {"short.key", hex_digits(30) + "\n"},
    {"odd.key", hex_digits(33) + "\n"},
    {"long.key", hex_digits(514) + "\n"},
    {"not_hex.key", hex_digits(31) + "g\n"},
    {"spaced.key", hex_digits(16) + " " + hex_digits(16) + "\n"},
    {"two_lines.key", PSK_HEX + "\n" + PSK_HEX + "\n"},
    {"empty.key", ""},
};

using Settings = std::vector<std::pair<std::string, std::string>>;

const std::string CONNECT = "CGNAT_ZABBIX_TLS_CONNECT",
                  IDENTITY = "CGNAT_ZABBIX_TLS_PSK_IDENTITY",
                  PSK_FILE = "CGNAT_ZABBIX_TLS_PSK_FILE",
                  CA_FILE = "CGNAT_ZABBIX_TLS_CA_FILE",
                  CRL_FILE = "CGNAT_ZABBIX_TLS_CRL_FILE",
                  CERT_FILE = "CGNAT_ZABBIX_TLS_CERT_FILE",
                  KEY_FILE = "CGNAT_ZABBIX_TLS_KEY_FILE",
                  ISSUER = "CGNAT_ZABBIX_TLS_SERVER_CERT_ISSUER",
                  SUBJECT = "CGNAT_ZABBIX_TLS_SERVER_CERT_SUBJECT";

const Settings PSK = {
    {CONNECT, "psk"}, {IDENTITY, "cgnat-collector"}, {PSK_FILE, "@right.key"}};
const Settings CERT = {{CONNECT, "cert"},
                       {CA_FILE, "@ca.crt"},
                       {CERT_FILE, "@client.crt"},
                       {KEY_FILE, "@client.key"}};

// base with each change replacing its variable's value (or added); the
// value "-" removes the variable.
Settings with(Settings base, const Settings &changes) {
  for (const auto &change : changes) {
    std::erase_if(base, [&](const auto &s) { return s.first == change.first; });
    if (change.second != "-")
      base.push_back(change);
  }
  return base;
}

struct SettingCase {
  std::string name;
  Settings settings;
  std::string setting; // named in the error; empty: accepted
  std::string part = {};
};
void PrintTo(const SettingCase &c, std::ostream *os) { *os << c.name; }

bool needs_certificates(const Settings &settings) {
  for (const auto &[variable, value] : settings)
    if (value.ends_with(".crt") || value.ends_with(".crl") ||
        value.ends_with("client.key"))
      return true;
  return false;
}

// Pieces of every key file's lines: any 31 characters of a line hold one.
std::vector<std::string> key_contents(const std::string &dir) {
  std::vector<std::string> pieces;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".key")
      continue;
    for (const std::string &line :
         lines_of(testing_support::read_text(entry.path().string())))
      for (size_t at = 0; !line.starts_with("-----") && at + 16 <= line.size();
           at += 16)
        pieces.push_back(line.substr(at, 16));
  }
  return pieces;
}

class TlsSetting : public testing::TestWithParam<SettingCase> {};

TEST_P(TlsSetting, RefusedBeforeTheDeviceByName) {
  const SettingCase &c = GetParam();
  TempDir files, home;
  if (needs_certificates(c.settings)) {
    ASSERT_EQ(std::system(("bash " + std::string(CGNAT_SOURCE_DIR) +
                           "/zabbix_test_server/make_tls_files.sh " +
                           files.path + " >/dev/null")
                              .c_str()),
              0);
  }
  for (const auto &[name, text] : KEY_FILES)
    testing_support::write_text(files.path + "/" + name, text);
  FakeTrapper device, trapper; // the device's port only counts connections
  Env env{{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", trapper.address()}};
  for (auto [variable, value] : c.settings) {
    if (value.starts_with("@"))
      value = files.path + "/" + value.substr(1);
    env.emplace_back(variable, value);
  }

  auto result =
      run({"discoveryLinux", "127.0.0.1", std::to_string(device.port()),
           DEVICE_USER, DEVICE_PASSWORD, ZABBIX_HOST},
          false, env, 30);

  expect_sound_run(result, 15);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(masked(result.out), "");
  expect_error_line(result.err);
  if (c.setting.empty()) {
    EXPECT_EQ(result.err.find("CGNAT_ZABBIX_TLS_"), std::string::npos)
        << masked(result.err);
    EXPECT_EQ(device.requests().size(), 1u) << "the device was not reached";
  } else {
    EXPECT_EQ(result.err.rfind("Erro: " + c.setting + ": ", 0), 0u)
        << masked(result.err);
    EXPECT_NE(result.err.find(c.part), std::string::npos)
        << c.part << " in: " << masked(result.err);
    EXPECT_TRUE(device.requests().empty()) << "the device was contacted";
  }
  for (const std::string &piece : key_contents(files.path))
    EXPECT_EQ((result.out + result.err).find(piece), std::string::npos)
        << "key content in: " << result.err;
  EXPECT_TRUE(trapper.requests().empty());
}

const std::string KEY_RULE = "32 a 512 dígitos hexadecimais, em número par";
const std::string UNREADABLE = "não pôde ser lido";

INSTANTIATE_TEST_SUITE_P(
    FaultMatrix, TlsSetting,
    testing::Values(
        SettingCase{
            "unknown_mode", {{CONNECT, "tls"}}, CONNECT, "modo desconhecido"},
        SettingCase{"mode_in_capitals", with(PSK, {{CONNECT, "PSK"}}), CONNECT,
                    "modo desconhecido \"PSK\""},
        SettingCase{
            "empty_mode", {{CONNECT, ""}}, CONNECT, "modo desconhecido \"\""},
        // Files that cannot be read, each setting in turn.
        SettingCase{"psk_file_missing", with(PSK, {{PSK_FILE, "@nowhere.key"}}),
                    PSK_FILE, UNREADABLE},
        SettingCase{"psk_file_a_directory", with(PSK, {{PSK_FILE, "@"}}),
                    PSK_FILE, UNREADABLE},
        SettingCase{"ca_file_missing", with(CERT, {{CA_FILE, "@nowhere.crt"}}),
                    CA_FILE, UNREADABLE},
        SettingCase{"crl_file_missing",
                    with(CERT, {{CRL_FILE, "@nowhere.crl"}}), CRL_FILE,
                    UNREADABLE},
        SettingCase{"cert_file_missing",
                    with(CERT, {{CERT_FILE, "@nowhere.crt"}}), CERT_FILE,
                    UNREADABLE},
        SettingCase{"key_file_missing",
                    with(CERT, {{KEY_FILE, "@nowhere.key"}}), KEY_FILE,
                    UNREADABLE},
        // Files that hold the wrong thing.
        SettingCase{"ca_file_not_a_certificate",
                    with(CERT, {{CA_FILE, "@right.key"}}), CA_FILE,
                    "nenhum certificado de CA"},
        SettingCase{"crl_file_not_a_crl", with(CERT, {{CRL_FILE, "@ca.crt"}}),
                    CRL_FILE, "não contém uma CRL"},
        SettingCase{"cert_file_not_a_certificate",
                    with(CERT, {{CERT_FILE, "@right.key"}}), CERT_FILE,
                    "certificado ilegível"},
        SettingCase{"key_not_matching_certificate",
                    with(CERT, {{KEY_FILE, "@other_client.key"}}), KEY_FILE,
                    "não corresponde ao certificado"},
        // The pre-shared key: one line of 32 to 512 hex digits, even count.
        SettingCase{"psk_too_short", with(PSK, {{PSK_FILE, "@short.key"}}),
                    PSK_FILE, KEY_RULE + " (tem 30)"},
        SettingCase{"psk_odd_count", with(PSK, {{PSK_FILE, "@odd.key"}}),
                    PSK_FILE, KEY_RULE + " (tem 33)"},
        SettingCase{"psk_too_long", with(PSK, {{PSK_FILE, "@long.key"}}),
                    PSK_FILE, KEY_RULE + " (tem mais de 512)"},
        SettingCase{"psk_not_hex", with(PSK, {{PSK_FILE, "@not_hex.key"}}),
                    PSK_FILE, "caractere inválido na posição 32"},
        SettingCase{"psk_with_a_space", with(PSK, {{PSK_FILE, "@spaced.key"}}),
                    PSK_FILE, "caractere inválido na posição 17"},
        SettingCase{"psk_two_lines", with(PSK, {{PSK_FILE, "@two_lines.key"}}),
                    PSK_FILE, "caractere inválido na posição 65"},
        SettingCase{"psk_file_empty", with(PSK, {{PSK_FILE, "@empty.key"}}),
                    PSK_FILE, KEY_RULE + " (tem 0)"},
        SettingCase{"psk_32_digits", with(PSK, {{PSK_FILE, "@shortest.key"}}),
                    ""},
        SettingCase{"psk_512_digits", with(PSK, {{PSK_FILE, "@longest.key"}}),
                    ""},
        SettingCase{"psk_crlf_line_end", with(PSK, {{PSK_FILE, "@crlf.key"}}),
                    ""},
        // The identity: 1 to 128 UTF-8 characters.
        SettingCase{"identity_empty", with(PSK, {{IDENTITY, ""}}), IDENTITY,
                    "identidade PSK está vazia"},
        SettingCase{"identity_129_characters",
                    with(PSK, {{IDENTITY, characters(129, "ç")}}), IDENTITY,
                    "tem 129 caracteres; o máximo é 128"},
        SettingCase{"identity_128_characters",
                    with(PSK, {{IDENTITY, characters(128, "ç")}}), ""},
        SettingCase{"identity_over_openssl_bytes",
                    with(PSK, {{IDENTITY, characters(65, "\U0001F512")}}),
                    IDENTITY, "260 bytes"},
        SettingCase{"identity_not_utf8", with(PSK, {{IDENTITY, "cgnat-\xff"}}),
                    IDENTITY, "UTF-8"},
        SettingCase{"identity_missing", with(PSK, {{IDENTITY, "-"}}), IDENTITY,
                    "obrigatório com CGNAT_ZABBIX_TLS_CONNECT=psk"},
        SettingCase{"psk_file_missing_setting", with(PSK, {{PSK_FILE, "-"}}),
                    PSK_FILE, "obrigatório"},
        SettingCase{"key_file_missing_setting", with(CERT, {{KEY_FILE, "-"}}),
                    KEY_FILE, "obrigatório com CGNAT_ZABBIX_TLS_CONNECT=cert"},
        // Settings of the other mode.
        SettingCase{"psk_identity_in_cert_mode",
                    with(CERT, {{IDENTITY, "cgnat-collector"}}), IDENTITY,
                    "só vale com CGNAT_ZABBIX_TLS_CONNECT=psk"},
        SettingCase{"psk_file_in_cert_mode",
                    with(CERT, {{PSK_FILE, "@right.key"}}), PSK_FILE,
                    "só vale com CGNAT_ZABBIX_TLS_CONNECT=psk"},
        SettingCase{"ca_file_in_psk_mode", with(PSK, {{CA_FILE, "@ca.crt"}}),
                    CA_FILE, "só vale com CGNAT_ZABBIX_TLS_CONNECT=cert"},
        SettingCase{"server_subject_in_psk_mode",
                    with(PSK, {{SUBJECT, "CN=cgnat-zabbix-server"}}), SUBJECT,
                    "só vale com CGNAT_ZABBIX_TLS_CONNECT=cert"},
        // Any encryption setting while delivery is unencrypted.
        SettingCase{"psk_file_without_mode",
                    {{PSK_FILE, "@right.key"}},
                    PSK_FILE,
                    "(CGNAT_ZABBIX_TLS_CONNECT é \"unencrypted\")"},
        SettingCase{"issuer_while_unencrypted",
                    {{CONNECT, "unencrypted"}, {ISSUER, "CN=CGNAT Test CA"}},
                    ISSUER,
                    "só vale com CGNAT_ZABBIX_TLS_CONNECT=cert"},
        SettingCase{"empty_server_subject", with(CERT, {{SUBJECT, ""}}),
                    SUBJECT, "vazio"},
        SettingCase{"cert_with_crl_and_names",
                    with(CERT, {{CRL_FILE, "@ca.crl"},
                                {ISSUER, "CN=CGNAT Test CA,O=CGNAT Test,C=BR"},
                                {SUBJECT, "CN=cgnat-zabbix-server"}}),
                    ""}),
    [](const auto &info) { return info.param.name; });

} // namespace
