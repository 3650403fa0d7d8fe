// Reading an interactive shell: where the prompt is, where output ends.
// Pure logic over received bytes, taken one byte at a time, so every
// decision falls on the same byte however the device's bytes are split
// into reads; it can be checked without a device.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn {

// A last line longer than this is output, never a prompt; it keeps the
// per-byte prompt check short when a device sends one huge line.
inline constexpr size_t PROMPT_LINE_LIMIT = 4096;

// The terminal's current line as the eye sees it: carriage return,
// backspace, erase-line and cursor moves edit it; other escape sequences
// and control bytes leave no mark.
struct ScreenLine {
  enum class Escape : unsigned char { None, Start, Csi, Text, TextEsc, Other };
  std::string text;
  size_t column = 0;
  bool too_long = false; // past PROMPT_LINE_LIMIT: output, never a prompt
  Escape escape = Escape::None;
  std::string parameters; // of the CSI sequence being read

  // Applies one byte other than a line feed.
  void put(char byte);
  // Starts a new line; an escape sequence in progress goes on.
  void new_line();
  // The visible text without its trailing blanks.
  std::string_view trimmed() const;
};

// A text as the eye sees it on one line.
std::string visible_line(std::string_view raw);

// Prompts shown one after another with only blanks or line ends between:
// "P\r\nP" when the device echoes Enter, "P P" on one line when it does not.
struct PromptRun {
  std::string prompt; // the visible prompt of the run
  size_t count = 0;   // prompts in the run
  size_t start = 0;   // offset of the line holding the run's first one
  bool across_lines = false;
};

// The byte stream of one shell, line by line.
struct ShellStream {
  std::string end_data;
  std::string bytes; // since the current read began
  size_t processed = 0;
  ScreenLine line;
  size_t line_start = 0;       // offset of the current line (0 when earlier)
  size_t ignore_columns = 0;   // of the current line, shown before this read
  std::string previous_prompt; // last non-blank complete line, if a prompt
  size_t previous_count = 0, previous_start = 0;
  bool after_pager_return = false; // a pager stop was just sent back to CR

  // Forgets the bytes and prompts seen so far; the current line goes on.
  void begin_read();
};

// The prompt run that the current line ends, if any (count 0 otherwise).
PromptRun current_run(const ShellStream &stream);

// After login: finds the prompt by sending an Enter and waiting for the
// prompt to come back right after itself.
struct PromptFinder {
  ShellStream stream;
  size_t confirm_enters = 0; // sent while a prompt showed: each is answered
  size_t wake_enters = 0;    // sent while none showed: the device may wait
  std::string prompt;        // set once found
  bool echoes = false;       // the device echoed the Enter's line end
};

// PagerStop: the device waits at a pager stop (CommandRead::pager_stop).
enum class ShellStep { Read, SendEnter, Done, PagerStop };

// Takes the bytes of one read and goes on over them; ends early at an
// action. The caller sends an Enter for SendEnter, then calls advance.
ShellStep feed(PromptFinder &finder, std::string_view more);
ShellStep advance(PromptFinder &finder);
// The device has been quiet a while: what to do about it.
ShellStep on_quiet(PromptFinder &finder);

// One command, sent with an extra Enter: its echo, its output, its prompt,
// and the prompt that answers the extra Enter, which marks the end
// whatever the prompt has become.
struct CommandRead {
  ShellStream stream;
  std::string typed; // the command as it shows
  bool expect_echo = true;
  bool echo_seen = false;
  std::string echo_text; // visible lines so far, while the echo is awaited
  size_t output_start = 0;
  PromptRun end;          // once done
  std::string pager_stop; // set when the device stopped at a pager
};

// Prepares a read of command on stream (the session's, taken over).
void begin_command(CommandRead &read, std::string_view command);
ShellStep feed(CommandRead &read, std::string_view more);
// Nothing more has come for now (long_quiet: for a while).
ShellStep on_quiet(CommandRead &read, bool long_quiet);

// What came between the echo and the final prompts (valid after Done),
// taking over the received bytes instead of copying them.
std::string take_command_output(CommandRead &read);

} // namespace tarn
