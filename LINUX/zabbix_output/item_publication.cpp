#include "LINUX/collection/catalogue.hpp"
#include "LINUX/run_control/console.hpp"
#include "LINUX/run_control/end_process.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

namespace cgnat {
namespace {

std::string value_text(const MetricValue &value) {
  if (const auto *text = std::get_if<std::string>(&value))
    return *text;
  return std::to_string(std::get<int>(value));
}

// The document's one map; a document without it has no macro at all.
const MetricMap &only_map(const DiscoveryDocument &document) {
  static const MetricMap none;
  return document.empty() ? none : document.front();
}

void report_missing(const std::vector<const PublishedItem *> &missing) {
  std::string line = "métricas ausentes na saída do equipamento: ";
  for (size_t i = 0; i < missing.size(); ++i) {
    if (i > 0)
      line += ", ";
    line += std::string(missing[i]->macro) + " (" +
            std::string(missing[i]->item_key) + ")";
  }
  print_error(line);
}

} // namespace

void publish_items(const DiscoveryDocument &discovery_summary,
                   const DiscoveryDocument &discovery_errors,
                   const ItemSender &send) {
  const MetricMap *summary = nullptr;
  const MetricMap *erros = nullptr;
  std::vector<const PublishedItem *> missing;
  for (const PublishedItem &row : PUBLISHED_ITEMS) {
    // Each document is taken only when its first row comes up.
    const MetricMap *&map = row.document == Document::summary ? summary : erros;
    if (!map)
      map = &only_map(row.document == Document::summary ? discovery_summary
                                                        : discovery_errors);
    const MetricValue *value = map->find(row.macro);
    if (!value) {
      // One absent metric must not cost the values after it.
      missing.push_back(&row);
      continue;
    }
    send(std::string(row.item_key), value_text(*value));
  }
  if (!missing.empty()) {
    report_missing(missing);
    throw EndProcess{1};
  }
  print_line("OK");
  throw EndProcess{0};
}

} // namespace cgnat
