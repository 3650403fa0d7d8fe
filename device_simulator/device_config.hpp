// Settings of one simulated device instance, read from key=value lines.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace device_sim {

struct DeviceConfig {
  std::string summary_file;
  std::string errors_file;
  long summary_lines = 0; // >0: a generated summary of this many lines
  std::string prompt = "cgnat-device$ ";
  long page_length = 24;        // 0: no paging
  std::set<std::string> faults; // see fault_names()
  long slow_ms = 1500;          // "slow": pause before each answer
  long drop_after = 3;          // "drop": leave on the N-th command
  long huge_mib = 65;           // "huge-output": summary size
  long byte_pause_ms = 0;       // "byte-wise": pause after each byte
  long echo_pause_ms = 2;       // "line-editor": pause before each echo
  long echo_width = 12;         // "line-editor": echo wraps at this column
  long banner_delay_ms = 0;     // pause before the banner, as a slow profile
  long columns = 0;             // "fish-padding": 0 for the terminal's width
  bool has(const std::string &fault) const { return faults.count(fault); }
};

const std::vector<std::string> &fault_names();

// Applies one "key=value" setting; throws std::invalid_argument when the key
// or the value is not understood.
void apply_setting(DeviceConfig &config, const std::string &line);

// Reads a file of settings, one per line; '#' starts a comment.
void read_config_file(DeviceConfig &config, const std::string &path);

} // namespace device_sim
