#include "tarnlibrary/ssh_library/shell_reading.hpp"

#include "tarnlibrary/ssh_library/pager.hpp"

#include <algorithm>

namespace tarn {
namespace {

constexpr char ESC = '\033';
// Enters sent at login when the device stays quiet: one for a device that
// shows no prompt until it gets one, more in case an early one was dropped.
constexpr size_t QUIET_ENTERS = 3;

bool blank(char c) { return c == ' ' || c == '\t'; }

bool ends_with(std::string_view text, std::string_view end) {
  return !end.empty() && text.size() >= end.size() &&
         text.substr(text.size() - end.size()) == end;
}

std::string_view trim_right(std::string_view text) {
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string_view trim_left(std::string_view text) {
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  return text;
}

// The first number of a CSI sequence's parameters, or fallback.
size_t first_number(std::string_view parameters, size_t fallback) {
  size_t number = 0;
  bool any = false;
  for (char c : parameters) {
    if (c < '0' || c > '9')
      break;
    number = std::min<size_t>(number * 10 + static_cast<size_t>(c - '0'),
                              PROMPT_LINE_LIMIT);
    any = true;
  }
  return any ? number : fallback;
}

// Takes the run of ordinary text ahead at once: bytes that only extend the
// line and cannot make it end in the prompt mark. Keeps big outputs cheap.
void take_plain_text(ShellStream &stream) {
  ScreenLine &line = stream.line;
  if (line.escape != ScreenLine::Escape::None || line.too_long ||
      line.column != line.text.size() || stream.after_pager_return ||
      stream.end_data.empty())
    return;
  const char mark = stream.end_data.back();
  // Blanks are plain too unless they would follow the mark.
  bool blanks_plain = !ends_with(line.trimmed(), stream.end_data);
  size_t at = stream.processed, end = stream.bytes.size();
  size_t room =
      PROMPT_LINE_LIMIT - std::min(line.text.size(), PROMPT_LINE_LIMIT);
  end = std::min(end, at + room);
  while (at < end) {
    unsigned char c = static_cast<unsigned char>(stream.bytes[at]);
    if (c == static_cast<unsigned char>(mark) || c == 0x7F || c < 0x20 ||
        (c == ' ' && !blanks_plain))
      break;
    ++at;
  }
  line.text.append(stream.bytes, stream.processed, at - stream.processed);
  line.column = line.text.size();
  stream.processed = at;
}

// An echo that wraps at the device's width loses the blank at the wrap.
std::string without_blanks(std::string_view text) {
  std::string kept;
  for (char c : text)
    if (!blank(c))
      kept += c;
  return kept;
}

// Only prompt marks: "$$$$" is a border, not "$$" twice.
bool marks_only(std::string_view text, std::string_view end_data) {
  return text.find_first_not_of(end_data) == std::string_view::npos;
}

// The current line's text shown since this read began, without blanks
// around it.
std::string_view own_text(const ShellStream &stream) {
  std::string_view text = stream.line.trimmed();
  return trim_left(text.substr(std::min(stream.ignore_columns, text.size())));
}

// A drawing of the prompt mark just happened: does it go on the run?
bool repeats_run(const RunState &state, std::string_view own,
                 std::string_view end_data) {
  if (state.run.count == 0 || !state.clean)
    return false;
  const std::string &prompt = state.run.prompt;
  if (!state.on_line)
    return own == prompt;
  // Drawn over itself is no new prompt: a device redraws its prompt so
  // by itself, and an Enter's answer comes after its echo's line end.
  if (!ends_with(own, prompt) || own == prompt)
    return false;
  std::string_view before = own.substr(0, own.size() - prompt.size());
  bool apart = !before.empty() && blank(before.back());
  return trim_right(before) == state.line &&
         (apart || !marks_only(prompt, end_data));
}

// The run a show of `own` makes of `state`.
void add_show(ShellStream &stream, RunState &state, std::string_view own) {
  if (repeats_run(state, own, stream.end_data)) {
    ++state.run.count;
    state.run.across_lines |= !state.on_line;
    state.blank_gap |= !state.on_line && stream.show_gap >= 2;
  } else {
    state.run = {std::string(own), 1, stream.line_start, false};
    state.blank_gap = false;
  }
  state.line = own;
  state.on_line = true;
  state.clean = true;
}

void note_drawing(ShellStream &stream) {
  const ScreenLine &line = stream.line;
  if (line.too_long || line.column != line.trimmed().size())
    return;
  std::string_view own = own_text(stream);
  if (!ends_with(own, stream.end_data))
    return;
  ++stream.drawings;
  if (stream.run.on_line && !repeats_run(stream.run, own, stream.end_data)) {
    // The line's show is being drawn still: it revises the last one.
    stream.run = stream.before_show;
    add_show(stream, stream.run, own);
    return;
  }
  stream.before_show = stream.run;
  ++stream.shows;
  stream.show_gap = stream.lines - stream.show_line;
  stream.show_line = stream.lines;
  add_show(stream, stream.run, own);
}

// Feeds one byte to the stream's line and prompt bookkeeping.
void take_byte(ShellStream &stream, char byte) {
  if (byte == '\n') {
    std::string_view own = own_text(stream);
    // Only blank lines and the prompt again keep a run going.
    RunState &run = stream.run;
    if (stream.line.too_long ||
        (!own.empty() && own != run.run.prompt && own != run.line))
      run.clean = false;
    run.on_line = false;
    stream.line.new_line();
    stream.line_start = stream.processed + 1;
    stream.ignore_columns = 0;
    ++stream.lines;
    return;
  }
  bool plain = stream.line.escape == ScreenLine::Escape::None;
  bool mark =
      plain && !stream.end_data.empty() && byte == stream.end_data.back();
  size_t column = stream.line.column;
  stream.line.put(byte);
  // What the device writes over the part shown before is its own again.
  if (plain && static_cast<unsigned char>(byte) >= 0x20 && byte != 0x7F)
    column = std::min(column, stream.line.column);
  else
    column = stream.line.text.size();
  stream.ignore_columns = std::min(stream.ignore_columns, column);
  if (mark)
    note_drawing(stream);
}

// Takes the next byte, or a run of plain text at once.
void take_next(ShellStream &stream) {
  take_plain_text(stream);
  if (stream.processed < stream.bytes.size()) {
    take_byte(stream, stream.bytes[stream.processed]);
    ++stream.processed;
  }
}

} // namespace

void ScreenLine::put(char byte) {
  auto write = [this](char c) {
    if (too_long || column >= PROMPT_LINE_LIMIT) {
      too_long = true;
      return;
    }
    if (column < text.size())
      text[column] = c;
    else {
      text.append(column - text.size(), ' ');
      text.push_back(c);
    }
    ++column;
  };
  switch (escape) {
  case Escape::None:
    if (byte == ESC)
      escape = Escape::Start;
    else if (byte == '\r')
      column = 0;
    else if (byte == '\b')
      column -= column > 0;
    else if (byte == '\t')
      write(' ');
    else if (static_cast<unsigned char>(byte) >= 0x20 && byte != 0x7F)
      write(byte);
    return;
  case Escape::Start:
    if (byte == '[') {
      escape = Escape::Csi;
      parameters.clear();
    } else if (byte == ']' || byte == 'P' || byte == '_' || byte == '^' ||
               byte == 'X')
      escape = Escape::Text; // OSC, DCS and the like: up to BEL or ST
    else if (byte >= 0x20 && byte <= 0x2F)
      escape = Escape::Other;
    else
      escape = Escape::None;
    return;
  case Escape::Csi:
    if (!(byte >= 0x40 && byte <= 0x7E)) {
      if (parameters.size() < 16)
        parameters.push_back(byte);
      return;
    }
    escape = Escape::None;
    if (!parameters.empty() && (parameters[0] < '0' || parameters[0] > ';'))
      return; // private modes such as bracketed paste: nothing to see
    if (byte == 'K') {
      size_t mode = first_number(parameters, 0);
      if (mode == 0)
        text.resize(std::min(column, text.size()));
      else if (mode == 1)
        std::fill_n(text.begin(), std::min(column + 1, text.size()), ' ');
      else
        text.clear();
    } else if (byte == 'D')
      column -=
          std::min(column, std::max<size_t>(first_number(parameters, 1), 1));
    else if (byte == 'C')
      column =
          std::min(column + std::max<size_t>(first_number(parameters, 1), 1),
                   PROMPT_LINE_LIMIT);
    else if (byte == 'G')
      column = std::max<size_t>(first_number(parameters, 1), 1) - 1;
    return;
  case Escape::Text:
    if (byte == '\a')
      escape = Escape::None;
    else if (byte == ESC)
      escape = Escape::TextEsc;
    return;
  case Escape::TextEsc:
    escape = byte == '\\' ? Escape::None : Escape::Text;
    return;
  case Escape::Other:
    if (!(byte >= 0x20 && byte <= 0x2F))
      escape = Escape::None;
    return;
  }
}

void ScreenLine::new_line() {
  text.clear();
  column = 0;
  too_long = false;
}

std::string_view ScreenLine::trimmed() const { return trim_right(text); }

std::string visible_line(std::string_view raw) {
  ScreenLine line;
  for (char byte : raw)
    if (byte != '\n')
      line.put(byte);
  return std::string(line.trimmed());
}

void ShellStream::begin_read() {
  bytes.erase(0, processed); // what came after the last decision stays
  processed = 0;
  line_start = 0;
  ignore_columns = line.text.size();
  after_pager_return = false;
  run = {};
  before_show = {};
}

PromptRun current_run(const ShellStream &stream) {
  const RunState &run = stream.run;
  if (run.run.count == 0 || !run.on_line || stream.line.too_long ||
      own_text(stream) != run.line)
    return {};
  return run.run;
}

void take_all(ShellStream &stream, std::string_view more) {
  stream.bytes.append(more);
  while (stream.processed < stream.bytes.size())
    take_next(stream);
}

namespace {

ShellStep found(PromptFinder &finder) {
  const RunState &run = finder.stream.run;
  finder.settle = run.blank_gap || run.run.count - 1 > finder.enters;
  finder.prompt = finder.stream.run.run.prompt;
  finder.echoes = finder.confirm_answered ? finder.answer_on_new_line
                                          : finder.stream.run.run.across_lines;
  return ShellStep::Done;
}

ShellStep send_enter(PromptFinder &finder, bool confirm) {
  ShellStream &stream = finder.stream;
  if (finder.enters++ == 0) {
    finder.woke_first = !confirm;
    finder.shows_at_first = stream.shows;
  }
  if (confirm) {
    ++finder.confirms;
    finder.drawings_at_confirm = stream.drawings;
    finder.confirm_answered = false;
  }
  return ShellStep::SendEnter;
}

// Every Enter typed is answered, even if the first prompt came by itself.
bool all_answered(const PromptFinder &finder) {
  size_t shows = finder.stream.shows - finder.shows_at_first;
  return shows >= finder.enters + (finder.woke_first ? 1 : 0);
}

// The prompt came back at least once in answer to an Enter typed at it.
bool confirmed(const PromptFinder &finder) {
  return finder.confirms > 0 && finder.confirm_answered &&
         current_run(finder.stream).count >= 2;
}

} // namespace

ShellStep feed(PromptFinder &finder, std::string_view more) {
  ShellStream &stream = finder.stream;
  stream.bytes.append(more);
  while (stream.processed < stream.bytes.size()) {
    size_t shows = stream.shows, drawings = stream.drawings;
    take_next(stream);
    if (stream.shows != shows && finder.confirms > 0 &&
        !finder.confirm_answered) {
      finder.confirm_answered = true;
      finder.answer_on_new_line = stream.show_gap > 0;
    }
    if (stream.drawings != drawings && confirmed(finder) &&
        all_answered(finder))
      return found(finder);
  }
  return ShellStep::Read;
}

ShellStep on_pause(PromptFinder &finder) {
  // A prompt shows and nothing typed at it is unanswered: type at it, until
  // it has come back once. Wake Enters still unanswered wait for a quiet.
  if (current_run(finder.stream).count > 0 && !confirmed(finder) &&
      (finder.confirms == 0 || finder.confirm_answered))
    return send_enter(finder, true);
  return ShellStep::Read;
}

ShellStep on_quiet(PromptFinder &finder) {
  ShellStream &stream = finder.stream;
  PromptRun run = current_run(stream);
  // Answers still missing are Enters the device took to show its first
  // prompt, or dropped: nothing more is coming.
  if (run.count > 0 && finder.confirms > 0 &&
      (run.count >= 2 || stream.drawings > finder.drawings_at_confirm))
    return found(finder);
  if (run.count > 0) {
    if (finder.quiet_confirms >= QUIET_ENTERS)
      return ShellStep::Read;
    ++finder.quiet_confirms;
    return send_enter(finder, true);
  }
  // The same last line back after an Enter, twice: a prompt, but not one
  // that ends in the mark.
  std::string_view shown = stream.line.trimmed();
  bool same = !shown.empty() && shown == finder.quiet_line &&
              stream.bytes.size() > finder.quiet_bytes;
  finder.repeats = same ? finder.repeats + 1 : 0;
  if (finder.repeats >= 2) {
    finder.wrong_prompt = stream.line.text;
    return ShellStep::WrongPrompt;
  }
  if (finder.wake_enters >= QUIET_ENTERS)
    return ShellStep::Read;
  finder.quiet_line = shown;
  finder.quiet_bytes = stream.bytes.size();
  ++finder.wake_enters;
  return send_enter(finder, false);
}

void begin_command(CommandRead &read, std::string_view command) {
  read.stream.begin_read();
  read.typed = without_blanks(visible_line(command));
  read.echo_seen = !read.expect_echo; // an empty line echoes its line end
  read.echo_text.clear();
  read.output_start = 0;
  read.end_enter_at = CommandRead::NOT_SENT;
  read.end = {};
  read.pager_stop.clear();
  read.prompt_in_output = false;
}

namespace {

// The command's own output starts here. After its echo, prompts seen so
// far were answers to what was typed earlier.
void start_output(CommandRead &read, size_t at, bool after_echo) {
  read.echo_seen = true;
  read.output_start = at;
  if (after_echo)
    read.stream.run = read.stream.before_show = {};
}

} // namespace

ShellStep feed(CommandRead &read, std::string_view more) {
  ShellStream &stream = read.stream;
  stream.bytes.append(more);
  while (stream.processed < stream.bytes.size()) {
    take_plain_text(stream);
    if (stream.processed == stream.bytes.size())
      break;
    char byte = stream.bytes[stream.processed];
    // A pager erases its stop once it takes a key: a stop sent back to the
    // line start, not ended by a line feed.
    if (stream.after_pager_return) {
      stream.after_pager_return = false;
      if (byte != '\n')
        return ShellStep::PagerStop;
      read.pager_stop.clear();
    }
    if (byte == '\r' && is_pager_stop(stream.line.trimmed())) {
      stream.after_pager_return = true;
      read.pager_stop = stream.line.trimmed();
    }
    bool awaiting_echo = !read.echo_seen;
    if (awaiting_echo && byte == '\n')
      read.echo_text += without_blanks(stream.line.trimmed());
    if (!awaiting_echo && byte == '\n' && !read.prompt.empty()) {
      // The prompt with text after it, past the echo: an answer to an
      // earlier line came late, and this output is not the command's.
      std::string_view own = own_text(stream);
      bool after_prompt = false;
      while (!own.empty() && own.substr(0, read.prompt.size()) == read.prompt) {
        own = trim_left(own.substr(read.prompt.size()));
        after_prompt = true;
      }
      read.prompt_in_output |= after_prompt && !own.empty();
    }
    size_t drawings = stream.drawings;
    take_byte(stream, byte);
    ++stream.processed;
    if (awaiting_echo) {
      if (byte != '\n')
        continue;
      // The echo may wrap over several lines or follow a late message.
      if (read.typed.empty() || ends_with(read.echo_text, read.typed))
        start_output(read, stream.processed, true);
      else if (read.echo_text.size() > read.typed.size() + PROMPT_LINE_LIMIT)
        start_output(read, 0, false); // not echoed after all
      continue;
    }
    if (!read.settle && stream.drawings != drawings &&
        stream.run.run.count >= 2 &&
        read.end_enter_at != CommandRead::NOT_SENT &&
        stream.shows > read.end_enter_at) {
      read.end = stream.run.run;
      return read.prompt_in_output ? ShellStep::OutOfStep : ShellStep::Done;
    }
  }
  return ShellStep::Read;
}

ShellStep on_pause(CommandRead &read, bool quiet) {
  ShellStream &stream = read.stream;
  if (is_pager_stop(stream.line.trimmed())) {
    read.pager_stop = stream.line.trimmed();
    return ShellStep::PagerStop;
  }
  if (!read.echo_seen) {
    // A prompt and a quiet device, but no echo: it did not echo this one.
    if (!quiet || current_run(stream).count == 0)
      return ShellStep::Read;
    start_output(read, 0, false);
  }
  PromptRun shown = current_run(stream);
  if (read.settle && !quiet)
    return ShellStep::Read;
  // Drawn again after the Enter, and nothing more: the end (a device that
  // neither echoes nor moves to a new line draws it over itself).
  if (quiet && shown.count > 0 && read.end_enter_at != CommandRead::NOT_SENT &&
      stream.drawings > read.drawings_at_end_enter) {
    read.end = shown;
    return read.prompt_in_output ? ShellStep::OutOfStep : ShellStep::Done;
  }
  if (read.end_enter_at == CommandRead::NOT_SENT && shown.count > 0) {
    read.end_enter_at = stream.shows;
    read.drawings_at_end_enter = stream.drawings;
    return ShellStep::SendEnter;
  }
  return ShellStep::Read;
}

std::string take_command_output(CommandRead &read) {
  ShellStream &stream = read.stream;
  std::string rest = stream.bytes.substr(stream.processed);
  std::string output = std::move(stream.bytes);
  size_t end = std::max(read.end.start, read.output_start);
  output.resize(std::min(end, output.size()));
  output.erase(0, read.output_start);
  stream.bytes = std::move(rest); // bytes past the end belong to what follows
  stream.processed = 0;
  return output;
}

} // namespace tarn
