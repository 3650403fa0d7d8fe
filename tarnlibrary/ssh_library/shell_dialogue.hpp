// The session's dialogue with a shell: finds the prompt, runs commands.
// The same loop runs over the SSH channel and, in tests, over recorded
// streams with a simulated clock.
#pragma once

#include "tarnlibrary/ssh_library/shell_reading.hpp"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace tarn {

using Clock = std::chrono::steady_clock;

inline constexpr int SILENCE_LIMIT_MS = 60'000;
inline constexpr size_t OUTPUT_LIMIT = size_t{64} << 20;
// Quiet after which the device is taken to wait for something.
inline constexpr int QUIET_MS = 500;

// Where the shell's bytes come from and where typed bytes go. `what` names
// the wait or the text ("o comando \"...\"") for the messages of failures.
struct ShellWire {
  // Appends what arrives to `into`, waiting for it at most until `until`
  // (no wait when that has passed); false when nothing came.
  std::function<bool(std::string &into, Clock::time_point until,
                     const std::string &what)>
      read;
  std::function<void(std::string_view bytes, const std::string &what)> write;
  std::function<Clock::time_point()> now;
};

// The dialogue's state from one command to the next.
struct ShellDialogue {
  std::string end_data;
  std::string where;   // "user@host:port" for messages
  std::string prompt;  // visible prompt, once found
  bool echoes = false; // the device echoed the Enter that confirmed it
  ShellStream stream;  // the terminal's line goes on from read to read
};

// Waits for the prompt after login.
void find_prompt(ShellWire &wire, ShellDialogue &dialogue);
// Types command and returns its output as the device sent it.
std::string run_command(ShellWire &wire, ShellDialogue &dialogue,
                        const std::string &command);

} // namespace tarn
