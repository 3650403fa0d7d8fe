// Zabbix sending: one item value per call, over the Zabbix sender protocol.
#pragma once

#include "tarnlibrary/zabbix_library/zabbix_tls.hpp"

#include <cstdint>
#include <optional>
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

// What one run learnt about where its values go: the address a Zabbix 7.0
// proxy group redirected it to, for the run's next values.
struct ZabbixRoute {
  std::optional<ServerAddress> redirected;
  uint64_t revision = 0; // of that redirect; an older one does not replace it
};

// Delivers one value of item key chave for zabbix_host, encrypted as tls
// says, to route's redirected address if it has one, else to zabbix_server.
// A redirect answer sends the value once more, to the address given (with
// the same encryption); when that address takes it, route keeps it. Returns
// when the server counted the value as processed; throws std::runtime_error
// with the server's own words or the reason the exchange failed otherwise
// (naming every address the value went to), std::invalid_argument for a
// malformed zabbix_server, and tarn::TimeoutException when the run's bound
// passes.
void send_zabbix(const std::string &zabbix_server,
                 const std::string &zabbix_host, const std::string &chave,
                 const std::string &item, const ZabbixTls &tls,
                 ZabbixRoute &route);

// The same for a value on its own: a redirect is followed, not kept.
void send_zabbix(const std::string &zabbix_server,
                 const std::string &zabbix_host, const std::string &chave,
                 const std::string &item, const ZabbixTls &tls = {});

} // namespace tarn
