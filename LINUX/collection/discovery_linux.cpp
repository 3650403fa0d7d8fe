#include "LINUX/collection/collection.hpp"
#include "LINUX/debug_report/debug_report.hpp"
#include "LINUX/run_control/run_settings.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"

namespace cgnat {

void discoveryLinux(const std::string &) {
  DeviceOutputs outputs = device_session();

  std::vector<std::string> lines_summary =
      normalise_summary(outputs.cgnat_summary);
  std::vector<std::string> lines_errors =
      normalise_errors(outputs.cgnat_errors);
  MetricMap data = parse_summary(lines_summary);
  MetricMap data_erros = parse_errors(lines_errors);

  DiscoveryDocument discovery_summary;
  DiscoveryDocument discovery_errors;
  build_discovery_document(data, discovery_summary);
  build_discovery_document(data_erros, discovery_errors);

  if (settings().zabbix_host == DEBUG_HOST)
    show_debug_report(discovery_summary, discovery_errors);
  publish_items(discovery_summary, discovery_errors);
}

} // namespace cgnat
