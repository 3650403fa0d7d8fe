// Placeholder until the discovery documents land; fails loudly, never pretends.
#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <stdexcept>

namespace cgnat {
std::string discovery_macro(std::string_view) {
  throw std::logic_error("documentos de descoberta ainda não implementados");
}
void build_discovery_document(const MetricMap &, DiscoveryDocument &) {
  throw std::logic_error("documentos de descoberta ainda não implementados");
}
} // namespace cgnat
