#include "LINUX/run_control/console.hpp"
#include "LINUX/collection/text.hpp"

#include <cstdio>

namespace cgnat {

void print_line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void print_error(std::string_view cause) {
  std::string line = "Erro: " + decode_utf8(cause) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

} // namespace cgnat
