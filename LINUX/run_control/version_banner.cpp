#include "LINUX/run_control/end_process.hpp"
#include "LINUX/run_control/run_control.hpp"
#include "LINUX/run_control/run_settings.hpp"

namespace cgnat {
namespace {

// Every "./" becomes one blank, left to right, without overlaps.
std::string invocation_name(std::string name) {
  for (size_t at = 0; (at = name.find("./", at)) != std::string::npos; ++at)
    name.replace(at, 2, " ");
  return name;
}

} // namespace

void get_version() {
  print_line(" Todos os direitos reservados à Tarn Tecnologia.");
  print_line(invocation_name(settings().program_name) + "  " +
             std::string(VERSION));
  throw EndProcess{0};
}

} // namespace cgnat
