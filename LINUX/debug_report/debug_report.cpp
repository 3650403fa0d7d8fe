// What the run found, shown instead of sending when the host is "debug".
#include "LINUX/debug_report/debug_report.hpp"
#include "LINUX/run_control/console.hpp"
#include "LINUX/run_control/end_process.hpp"

#include <vector>

namespace cgnat {
namespace {

std::string concat(std::initializer_list<std::string_view> pieces) {
  std::string row;
  for (std::string_view piece : pieces)
    row.append(piece);
  return row;
}

// One entry per print; each is followed by a line feed.
std::vector<std::string>
report_rows(const DiscoveryDocument &discovery_summary,
            const DiscoveryDocument &discovery_errors) {
  std::vector<std::string> rows;
  rows.push_back(concat({RED, "Modo debug ativado:\n"}));
  rows.push_back(
      concat({GREEN, "Versão do script:          ", RESET, VERSION}));
  rows.push_back(concat({CYAN,
                         "\n...==================================== Discovery "
                         "Summary =====================================...\n",
                         RESET}));
  for (const MetricMap &map : discovery_summary)
    rows.push_back(display_form(map));
  rows.push_back(concat({CYAN,
                         "\n...==================================== Discovery "
                         "Errors =====================================...\n",
                         RESET}));
  for (const MetricMap &map : discovery_errors)
    rows.push_back(display_form(map));
  rows.push_back(concat(
      {CYAN, "\nPara caso de conferência, use os seguintes comandos SSH:\n",
       RESET}));
  rows.push_back(concat(
      {YELLOW, "show cgnat summary  ", RESET, " # Para listar o summary"}));
  rows.push_back(concat(
      {YELLOW, "show cgnat errors   ", RESET, " # Para listar o errors"}));
  rows.push_back(concat({RED, "\nCaso os comandos não respondam:\n"}));
  rows.push_back(concat({YELLOW, "1 - Confirmar se o equipamento está ativo"}));
  rows.push_back(
      concat({YELLOW, "2 - Confirmar qual o modelo do equipamento."}));
  rows.push_back(concat(
      {YELLOW,
       "3 - Solicitar MIB ou acesso SSH do equipamento e entrar em contato com "
       "o setor de desenvolvimento da Tarn!",
       RESET}));
  return rows;
}

} // namespace

std::string debug_report_text(const DiscoveryDocument &discovery_summary,
                              const DiscoveryDocument &discovery_errors) {
  std::string text;
  for (const std::string &row :
       report_rows(discovery_summary, discovery_errors))
    text.append(row).push_back('\n');
  return text;
}

void show_debug_report(const DiscoveryDocument &discovery_summary,
                       const DiscoveryDocument &discovery_errors) {
  for (const std::string &row :
       report_rows(discovery_summary, discovery_errors))
    print_line(row);
  throw EndProcess{0};
}

} // namespace cgnat
