#include "tarnlibrary/zabbix_library/zabbix_library.hpp"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace tarn {
namespace {

[[noreturn]] void malformed(const std::string &text, const std::string &why) {
  throw std::invalid_argument("endereço do servidor Zabbix inválido \"" + text +
                              "\": " + why);
}

bool valid_port(const std::string &port) {
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(),
                   [](unsigned char c) { return std::isdigit(c); }))
    return false;
  long value = std::stol(port);
  return value >= 1 && value <= 65535;
}

bool valid_host_char(unsigned char c) {
  return std::isalnum(c) || c == '.' || c == '-' || c == '_';
}

} // namespace

ServerAddress parse_server_address(const std::string &text) {
  if (text.empty())
    malformed(text, "vazio");
  ServerAddress address;
  std::string rest;
  if (text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos)
      malformed(text, "falta ']'");
    address.host = text.substr(1, close - 1);
    if (address.host.empty() ||
        !std::all_of(address.host.begin(), address.host.end(),
                     [](unsigned char c) {
                       return std::isxdigit(c) || c == ':' || c == '.';
                     }))
      malformed(text, "endereço IPv6 inválido");
    rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':')
      malformed(text, "esperado ':' depois de ']'");
  } else {
    size_t colon = text.find(':');
    if (colon != std::string::npos &&
        text.find(':', colon + 1) != std::string::npos)
      malformed(text, "um endereço IPv6 com porta vai entre colchetes");
    address.host = text.substr(0, colon);
    if (address.host.empty() ||
        !std::all_of(address.host.begin(), address.host.end(), valid_host_char))
      malformed(text, "nome de host inválido");
    rest = colon == std::string::npos ? "" : text.substr(colon);
  }
  address.port = rest.empty() ? ZABBIX_DEFAULT_PORT : rest.substr(1);
  if (!valid_port(address.port))
    malformed(text, "porta deve ser um número de 1 a 65535");
  return address;
}

} // namespace tarn
