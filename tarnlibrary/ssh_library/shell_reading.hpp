// Reading an interactive shell: where the prompt is, where output ends.
// Pure logic over received bytes, so it can be checked without a device.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn {

// A last line longer than this is output, never a prompt; it keeps the
// per-read prompt check short when a device sends one huge line.
inline constexpr size_t PROMPT_LINE_LIMIT = 4096;

// A line as the eye sees it: escape sequences and control characters
// removed, trailing white space dropped.
std::string visible_line(std::string_view raw);

// Received bytes, with the start of the last line kept up to date by
// looking only at what each read added.
struct ShellBuffer {
  std::string bytes;
  size_t last_line_start = 0;

  void append(std::string_view more);
  std::string_view last_line() const;
};

// After login: finds the prompt, confirming a candidate by sending empty
// lines until the same last line comes back after each one.
struct PromptFinder {
  std::string end_data;
  ShellBuffer buffer;
  std::string candidate;
  size_t enters_sent = 0;
  size_t sent_at = 0;      // buffer size when the last empty line went out
  size_t counted_upto = 0; // complete lines checked against candidate
  size_t candidate_lines = 0;
  std::string prompt; // set once found
};

enum class PromptStep { Read, SendEmptyLine, Found };

// Takes the bytes of one read; says what to do next. The caller sends an
// empty line for SendEmptyLine and reads again.
PromptStep feed(PromptFinder &finder, std::string_view more);

// One command: its echo, then output until the prompt is the last line.
struct CommandRead {
  std::string command;
  std::string prompt; // the visible prompt
  ShellBuffer buffer;
  size_t output_start = std::string::npos; // after the echo, once seen
};

// Takes the bytes of one read; true once the prompt came back.
bool feed(CommandRead &read, std::string_view more);

// What came between the echo and the prompt (valid after feed said true),
// taking over the received bytes instead of copying them; read is left empty.
std::string take_command_output(CommandRead &read);

} // namespace tarn
