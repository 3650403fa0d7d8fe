// The debug report shown instead of sending when the Zabbix host is "debug".
#pragma once

#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <string>

namespace cgnat {

inline constexpr std::string_view DEBUG_HOST = "debug";

// The display form of a discovery map: {'key': 'value', 'k': 0}.
std::string display_form(const MetricMap &map);

// The whole report, every line ending in a line feed.
std::string debug_report_text(const DiscoveryDocument &discovery_summary,
                              const DiscoveryDocument &discovery_errors);

// Prints the report and ends the process with status 0 (EndProcess).
[[noreturn]] void show_debug_report(const DiscoveryDocument &discovery_summary,
                                    const DiscoveryDocument &discovery_errors);

} // namespace cgnat
