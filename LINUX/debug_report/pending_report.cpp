// Placeholder until the debug report lands; fails loudly, never pretends.
#include "LINUX/debug_report/debug_report.hpp"

#include <stdexcept>

namespace cgnat {
std::string display_form(const MetricMap &) {
  throw std::logic_error("relatório de depuração ainda não implementado");
}
std::string debug_report_text(const DiscoveryDocument &,
                              const DiscoveryDocument &) {
  throw std::logic_error("relatório de depuração ainda não implementado");
}
void show_debug_report(const DiscoveryDocument &, const DiscoveryDocument &) {
  throw std::logic_error("relatório de depuração ainda não implementado");
}
} // namespace cgnat
