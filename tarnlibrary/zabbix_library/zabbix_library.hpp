// Zabbix sending: one item value per call, over the Zabbix sender protocol.
#pragma once

#include "tarnlibrary/zabbix_library/zabbix_tls.hpp"

#include <string>

namespace tarn {

inline constexpr const char *ZABBIX_DEFAULT_PORT = "10051";
// Connect and exchange of one delivery, together.
inline constexpr int ZABBIX_EXCHANGE_LIMIT_MS = 5000;
// How long an answered delivery waits for the server to close first.
inline constexpr int ZABBIX_CLOSE_WAIT_MS = 200;

struct ServerAddress {
  std::string host; // name or address, IPv6 without brackets
  std::string port; // decimal 1-65535
};

// Reads "host", "host:port" or "[ipv6]:port" (also "[ipv6]" alone).
// Throws std::invalid_argument naming the text when it is empty or malformed.
ServerAddress parse_server_address(const std::string &text);

// Delivers one value of item key chave for zabbix_host, encrypted as tls
// says. Returns when the
// server counted it as processed; throws std::runtime_error with the server's
// own words or the reason the exchange failed otherwise, and
// tarn::TimeoutException when the run's bound passes.
void send_zabbix(const std::string &zabbix_server,
                 const std::string &zabbix_host, const std::string &chave,
                 const std::string &item, const ZabbixTls &tls = {});

} // namespace tarn
