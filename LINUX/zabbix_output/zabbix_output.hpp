// Zabbix output: discovery documents, item publication, item sender.
#pragma once

#include "LINUX/collection/metric_map.hpp"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {
struct ZabbixRoute;
}

namespace cgnat {

// A list holding exactly one discovery map (macro to unchanged value).
using DiscoveryDocument = std::vector<MetricMap>;

// "{#" + key in upper case + "}".
std::string discovery_macro(std::string_view key);

// Appends the discovery map built from metrics to the (empty) document.
void build_discovery_document(const MetricMap &metrics,
                              DiscoveryDocument &document);

// Delivers one value to the run's Zabbix server and host; a failed delivery
// becomes one line on standard output. With a route, a Zabbix 7.0 proxy
// group's redirect is kept there for the values after.
void sendZabbix(const std::string &chave, const std::string &item);
void sendZabbix(const std::string &chave, const std::string &item,
                tarn::ZabbixRoute &route);

using ItemSender =
    std::function<void(const std::string &chave, const std::string &item)>;

// A sender for one run: sendZabbix with the run's own route.
ItemSender zabbix_item_sender();

// Sends the 36 published items in order through send, prints "OK" and ends
// the process (EndProcess). Rows whose macro is missing are skipped and
// reported; the run then ends with status 1 instead of "OK".
[[noreturn]] void publish_items(const DiscoveryDocument &discovery_summary,
                                const DiscoveryDocument &discovery_errors,
                                const ItemSender &send = zabbix_item_sender());

} // namespace cgnat
