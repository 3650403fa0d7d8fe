// What the simulated device prints: banner, prompt and command answers.
#pragma once

#include "device_simulator/device_config.hpp"

#include <string>
#include <string_view>

namespace device_sim {

// A summary line with invalid UTF-8 (bad lead bytes, a surrogate, a
// truncated sequence) around valid accented text.
inline constexpr std::string_view INVALID_UTF8_LINE =
    "  Observa\xc3\xa7\xc3\xa3o \xc3\x28 \xed\xa0\x80 \xf4\x90\x80\x80 "
    "\xff \xe2\x82\r\n";

// Writes output lines, stopping at "--More--" every page_length - 1 lines.
struct Pager {
  long page_length = 0;
  long line_pause_ms = 0;
  long lines_on_page = 0;
  bool stopped = false; // the reader answered "q"
  std::string pending;

  // One line including its line end; false once the reader stopped.
  bool line(std::string_view text);
  void flush();
};

std::string prompt_text(const DeviceConfig &config);
void print_banner(const DeviceConfig &config);

// Answers one command line (without line end). Returns false for "exit".
bool answer(DeviceConfig &config, const std::string &command);

} // namespace device_sim
