#include "device_simulator/device_config.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace device_sim {
namespace {

long to_number(const std::string &key, const std::string &value) {
  size_t used = 0;
  long number = -1;
  try {
    number = std::stol(value, &used);
  } catch (const std::exception &) {
  }
  if (used != value.size() || number < 0)
    throw std::invalid_argument("bad number for " + key + ": " + value);
  return number;
}

} // namespace

const std::vector<std::string> &fault_names() {
  static const std::vector<std::string> names{
      "no-prompt", "slow", "drop", "dollar-banner", "colour-prompt",
      "invalid-utf8", "huge-output", "ignore-screen-length",
      // terminal behaviours of real command lines
      "no-echo", "byte-wise", "cut-output", "line-editor", "redraw-prompt",
      "prompt-escapes", "double-prompt", "late-prompt", "cr-cr-lf", "lf-cr",
      "last-login", "late-motd", "wall", "syslog-redraw", "enter-first",
      "changing-prompt", "dollar-box",
      // login shells without a line editor, and shells that decorate prompts
      "tty-echo", "paste-codes", "erase-prompt", "fish-padding"};
  return names;
}

void apply_setting(DeviceConfig &config, const std::string &line) {
  auto equals = line.find('=');
  if (equals == std::string::npos)
    throw std::invalid_argument("setting without '=': " + line);
  std::string key = line.substr(0, equals), value = line.substr(equals + 1);
  if (key == "summary")
    config.summary_file = value;
  else if (key == "errors")
    config.errors_file = value;
  else if (key == "summary_lines")
    config.summary_lines = to_number(key, value);
  else if (key == "prompt")
    config.prompt = value;
  else if (key == "page_length")
    config.page_length = to_number(key, value);
  else if (key == "slow_ms")
    config.slow_ms = to_number(key, value);
  else if (key == "drop_after")
    config.drop_after = to_number(key, value);
  else if (key == "byte_pause_ms")
    config.byte_pause_ms = to_number(key, value);
  else if (key == "echo_pause_ms")
    config.echo_pause_ms = to_number(key, value);
  else if (key == "echo_width")
    config.echo_width = to_number(key, value);
  else if (key == "banner_delay_ms")
    config.banner_delay_ms = to_number(key, value);
  else if (key == "columns")
    config.columns = to_number(key, value);
  else if (key == "huge_mib")
    config.huge_mib = to_number(key, value);
  else if (key == "fault") {
    std::stringstream list(value);
    std::string name;
    while (std::getline(list, name, ',')) {
      if (name.empty())
        continue;
      bool known = false;
      for (const auto &candidate : fault_names())
        known = known || candidate == name;
      if (!known)
        throw std::invalid_argument("unknown fault: " + name);
      config.faults.insert(name);
    }
  } else
    throw std::invalid_argument("unknown setting: " + key);
}

void read_config_file(DeviceConfig &config, const std::string &path) {
  std::ifstream file(path);
  if (!file)
    throw std::invalid_argument("cannot read " + path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    apply_setting(config, line);
  }
}

} // namespace device_sim
