// Reading an interactive shell: where the prompt is, where output ends.
// Pure logic over received bytes, taken one byte at a time, so every
// decision falls on the same byte however the device's bytes are split
// into reads; it can be checked without a device.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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

// Prompts shown one after another with nothing shown between but line
// ends, blanks and erasures: "P\r\nP" when the Enter is echoed, "P P" on one
// line when it is not, and a prompt drawn over itself ("P\r\033[KP", or a
// CR and P again) counts as one more too.
struct PromptRun {
  std::string prompt; // the visible prompt of the run
  size_t count = 0;   // prompts in the run
  size_t start = 0;   // offset of the line holding the run's first one
  bool across_lines = false;
};

// A run as it is being read.
struct RunState {
  PromptRun run;
  std::string line;       // the line's own text at its last drawing
  bool on_line = false;   // that drawing is on the current line
  bool clean = false;     // nothing but prompts shown since
  bool blank_gap = false; // a blank line between two of its prompts
};

// The byte stream of one shell, line by line. A drawing is the write of the
// prompt mark that leaves it last on the line, the cursor right after it;
// cursor moves alone draw nothing. A show is what a line's drawings end up
// as: a later drawing on the same line that does not repeat the prompt
// revises the show instead of adding one (a shell that writes padding with
// the mark in it before its prompt).
struct ShellStream {
  std::string end_data;
  std::string bytes; // since the current read began
  size_t processed = 0;
  ScreenLine line;
  size_t line_start = 0;     // offset of the current line (0 when earlier)
  size_t ignore_columns = 0; // of the current line, shown before this read
  bool after_pager_return = false; // a pager stop was just sent back to CR
  size_t drawings = 0, shows = 0;  // seen, ever
  size_t lines = 0;                // line feeds seen, ever
  size_t show_line = 0;            // `lines` at the last show
  size_t show_gap = 0;  // line feeds between the last show and the one before
  RunState run;         // the last show's run
  RunState before_show; // the run before the last show

  // Forgets the bytes and prompts seen so far; the current line goes on.
  void begin_read();
};

// The prompt run that the current line shows, if any (count 0 otherwise).
PromptRun current_run(const ShellStream &stream);

// Takes all of `more` (tests and tools; the readers below stop early).
void take_all(ShellStream &stream, std::string_view more);

// What the session loop does next. SendEnter: type one Enter, then go on.
// PagerStop: the device waits at a pager stop (CommandRead::pager_stop).
// WrongPrompt: the device's last line keeps coming back after Enters and
// does not end in the prompt mark (PromptFinder::wrong_prompt).
// OutOfStep: the prompt showed with text after it inside the output: the
// device answered an earlier line late, so the output is not the command's.
enum class ShellStep {
  Read,
  SendEnter,
  Done,
  PagerStop,
  WrongPrompt,
  OutOfStep
};

// After login: finds the prompt. The collector types nothing while an
// Enter's answer is owed, except Enters sent before any prompt showed (the
// device may wait for one); those may be answered once or not at all, so
// when fewer answers than Enters came, a quiet period settles it.
struct PromptFinder {
  ShellStream stream;
  size_t enters = 0;              // typed so far
  bool woke_first = false;        // the first one went before any prompt showed
  size_t shows_at_first = 0;      // stream.shows when the first one went
  size_t confirms = 0;            // typed while a prompt showed
  size_t drawings_at_confirm = 0; // stream.drawings then
  bool confirm_answered = false;
  bool answer_on_new_line = false; // of the last confirm
  size_t quiet_confirms = 0;       // confirms typed again on quiet
  size_t wake_enters = 0;          // typed on quiet while no prompt showed
  std::string quiet_line;          // last line when the last wake Enter went
  size_t quiet_bytes = 0;          // bytes received by then
  size_t repeats = 0;              // Enters answered with that same line again
  std::string prompt;              // set once found
  bool echoes = false;             // the device echoed the Enter's line end
  std::string wrong_prompt;        // the line, for WrongPrompt
  // The device draws more prompts than it answers Enters, or draws the
  // answer below a blank line (as its terminal's echo and a prompt that
  // starts with a line end do): late answers can pass for early ones, so
  // every step waits for the device to go quiet.
  bool settle = false;
};

// Takes the bytes of one read and goes on over them; ends early at Done.
ShellStep feed(PromptFinder &finder, std::string_view more);
// No more bytes right now: what to do about it.
ShellStep on_pause(PromptFinder &finder);
// The device has been quiet a while: what to do about it.
ShellStep on_quiet(PromptFinder &finder);

// One command. It is typed alone; once its prompt shows, one more Enter is
// typed, and the prompt drawn again in answer marks the end whatever the
// prompt has become. The device's echo of the command, where it echoes,
// comes after the answers to everything typed before, so what shows before
// it is skipped.
struct CommandRead {
  ShellStream stream;
  std::string typed;   // the command as it shows, without blanks
  std::string prompt;  // the session's prompt, as found after login
  bool settle = false; // see PromptFinder::settle
  bool prompt_in_output = false;
  bool expect_echo = true;
  bool echo_seen = false;
  std::string echo_text; // visible lines so far, without blanks, while the
                         // echo is awaited
  size_t output_start = 0;
  static constexpr size_t NOT_SENT = static_cast<size_t>(-1);
  size_t end_enter_at = NOT_SENT; // stream.shows when it was typed
  size_t drawings_at_end_enter = 0;
  PromptRun end;          // once done
  std::string pager_stop; // set when the device stopped at a pager
};

// Prepares a read of command on stream (the session's, taken over).
void begin_command(CommandRead &read, std::string_view command);
ShellStep feed(CommandRead &read, std::string_view more);
// No more bytes right now (quiet: none for a while either).
ShellStep on_pause(CommandRead &read, bool quiet);

// What came between the echo and the final prompts (valid after Done),
// taking over the received bytes instead of copying them.
std::string take_command_output(CommandRead &read);

} // namespace tarn
