// Metric maps re-keyed by their low-level-discovery macros.
#include "LINUX/collection/text.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"

namespace cgnat {

std::string discovery_macro(std::string_view key) {
  return "{#" + to_upper(key) + "}";
}

void build_discovery_document(const MetricMap &metrics,
                              DiscoveryDocument &document) {
  MetricMap discovery;
  for (const auto &[key, value] : metrics.entries())
    discovery.store(discovery_macro(key), value);
  document.push_back(std::move(discovery));
}

} // namespace cgnat
