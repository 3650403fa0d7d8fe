// Placeholder until Zabbix output lands; fails loudly, never pretends.
#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <stdexcept>

namespace cgnat {
void sendZabbix(const std::string &, const std::string &) {
  throw std::logic_error("envio ao Zabbix ainda não implementado");
}
void publish_items(const DiscoveryDocument &, const DiscoveryDocument &,
                   const ItemSender &) {
  throw std::logic_error("publicação de itens ainda não implementada");
}
} // namespace cgnat
