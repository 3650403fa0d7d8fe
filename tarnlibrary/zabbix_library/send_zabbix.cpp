// Placeholder until the Zabbix sender lands; fails loudly, never pretends.
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"

#include <stdexcept>

namespace tarn {
void send_zabbix(const std::string &, const std::string &, const std::string &,
                 const std::string &) {
  throw std::logic_error("envio ao Zabbix ainda não implementado");
}
} // namespace tarn
