// The run settings: set once at start, read-only afterwards.
#pragma once

#include "tarnlibrary/ssh_library/ssh_library.hpp"
#include "tarnlibrary/zabbix_library/zabbix_tls.hpp"

#include <string>

namespace cgnat {

struct RunSettings {
  std::string program_name; // first word, as the caller wrote it
  std::string mode;
  bool full_form = false; // the seven-word form: the fields below are set
  std::string host;
  std::string port;
  std::string user;
  std::string pwd;
  std::string zabbix_host;
  std::string zabbix_server;  // set once obtained, after the version test
  tarn::ZabbixTls zabbix_tls; // checked with zabbix_server
  tarn::SshOptions ssh;       // checked with zabbix_server
};

const RunSettings &settings();
void set_settings(RunSettings value);

} // namespace cgnat
