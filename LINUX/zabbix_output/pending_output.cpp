// Placeholder until Zabbix output lands; fails loudly, never pretends.
#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <stdexcept>

namespace cgnat {
std::string discovery_macro(std::string_view) {
  throw std::logic_error("documentos de descoberta ainda não implementados");
}
void build_discovery_document(const MetricMap &, DiscoveryDocument &) {
  throw std::logic_error("documentos de descoberta ainda não implementados");
}
void sendZabbix(const std::string &, const std::string &) {
  throw std::logic_error("envio ao Zabbix ainda não implementado");
}
void publish_items(const DiscoveryDocument &, const DiscoveryDocument &,
                   const ItemSender &) {
  throw std::logic_error("publicação de itens ainda não implementada");
}
} // namespace cgnat
