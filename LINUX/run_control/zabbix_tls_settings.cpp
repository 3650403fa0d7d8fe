#include "LINUX/run_control/run_control.hpp"

#include <cstdlib>

namespace cgnat {
namespace {

// Named after zabbix_sender's --tls-* options.
struct TlsVariable {
  const char *name;
  tarn::TlsSetting tarn::TlsOptions::*setting;
};

constexpr TlsVariable TLS_VARIABLES[] = {
    {"CGNAT_ZABBIX_TLS_CONNECT", &tarn::TlsOptions::connect},
    {"CGNAT_ZABBIX_TLS_PSK_IDENTITY", &tarn::TlsOptions::psk_identity},
    {"CGNAT_ZABBIX_TLS_PSK_FILE", &tarn::TlsOptions::psk_file},
    {"CGNAT_ZABBIX_TLS_CA_FILE", &tarn::TlsOptions::ca_file},
    {"CGNAT_ZABBIX_TLS_CRL_FILE", &tarn::TlsOptions::crl_file},
    {"CGNAT_ZABBIX_TLS_CERT_FILE", &tarn::TlsOptions::cert_file},
    {"CGNAT_ZABBIX_TLS_KEY_FILE", &tarn::TlsOptions::key_file},
    {"CGNAT_ZABBIX_TLS_SERVER_CERT_ISSUER",
     &tarn::TlsOptions::server_cert_issuer},
    {"CGNAT_ZABBIX_TLS_SERVER_CERT_SUBJECT",
     &tarn::TlsOptions::server_cert_subject},
};

} // namespace

tarn::ZabbixTls obtain_zabbix_tls() {
  tarn::TlsOptions options;
  for (const TlsVariable &variable : TLS_VARIABLES) {
    tarn::TlsSetting &setting = options.*variable.setting;
    setting.name = variable.name;
    if (const char *value = std::getenv(variable.name))
      setting.value = value;
  }
  return tarn::ZabbixTls(options);
}

} // namespace cgnat
