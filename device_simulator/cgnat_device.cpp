// A small CGNAT command line for tests: run as the forced command of a test
// user under sshd, or directly on a pipe. Arguments: --config FILE and/or
// key=value settings (see device_config.hpp).
#include "device_simulator/device_config.hpp"
#include "device_simulator/device_output.hpp"
#include "device_simulator/device_terminal.hpp"

#include <cstdio>
#include <exception>
#include <string>

namespace device_sim {
namespace {

void show_prompt(const DeviceConfig &config) {
  std::string prompt = prompt_text(config);
  if (config.has("slow") && prompt.size() > 2) {
    // The prompt in two pieces: a partial prompt must not end a read.
    write_all(prompt.substr(0, prompt.size() / 2));
    pause_ms(50);
    write_all(prompt.substr(prompt.size() / 2));
    return;
  }
  write_all(prompt);
}

// Reads one line with echo, as a shell's line editor does. CR LF counts as
// one line end.
std::string read_line() {
  static bool after_cr = false;
  std::string line;
  for (;;) {
    unsigned char byte = read_byte();
    if (byte == '\n' && after_cr) {
      after_cr = false;
      continue;
    }
    after_cr = byte == '\r';
    if (byte == '\r' || byte == '\n') {
      write_all("\r\n");
      return line;
    }
    if (byte == 0x7f || byte == '\b') {
      if (!line.empty()) {
        line.pop_back();
        write_all("\b \b");
      }
    } else if (byte == 0x03) {
      write_all("^C\r\n");
      return "";
    } else if (byte >= 0x20 || byte == '\t') {
      line.push_back(static_cast<char>(byte));
      write_all(std::string(1, static_cast<char>(byte)));
    }
  }
}

int run(DeviceConfig &config) {
  enter_raw_mode();
  if (config.has("slow"))
    pause_ms(config.slow_ms);
  print_banner(config);
  long commands = 0;
  for (;;) {
    if (!config.has("no-prompt"))
      show_prompt(config);
    std::string line = read_line();
    if (config.has("no-prompt"))
      continue;
    if (line.find_first_not_of(" \t") != std::string::npos &&
        ++commands == config.drop_after && config.has("drop"))
      return 0;
    if (!answer(config, line))
      return 0;
  }
}

} // namespace
} // namespace device_sim

int main(int argc, char **argv) {
  device_sim::DeviceConfig config;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string word = argv[i];
      if (word == "--config" && i + 1 < argc)
        device_sim::read_config_file(config, argv[++i]);
      else
        device_sim::apply_setting(config, word);
    }
  } catch (const std::exception &error) {
    std::fprintf(stderr, "cgnat-device: %s\n", error.what());
    return 2;
  }
  return device_sim::run(config);
}
