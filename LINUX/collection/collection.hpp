// Collection: from the device's two outputs to the two metric maps.
#pragma once

#include "LINUX/collection/metric_map.hpp"

#include <string>
#include <vector>

namespace cgnat {

struct DeviceOutputs {
  std::string cgnat_summary;
  std::string cgnat_errors;
};

// The main routine: device session, parsing, then the debug report or the
// item publication. Ends the process itself (EndProcess) when it completes.
void discoveryLinux(const std::string &zabbix_server);

// One SSH session with the run settings' host, port, user and password: the
// three device commands, then close.
DeviceOutputs device_session();

// Cleaned, non-empty lines of each output.
std::vector<std::string> normalise_summary(const std::string &cgnat_summary);
std::vector<std::string> normalise_errors(const std::string &cgnat_errors);

// The metric maps `data` and `data_erros`.
MetricMap parse_summary(const std::vector<std::string> &lines_summary);
MetricMap parse_errors(const std::vector<std::string> &lines_errors);

} // namespace cgnat
