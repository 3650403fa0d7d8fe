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

// Another prompt (or the start of the line) right before `at` in text.
bool run_boundary(std::string_view text, size_t at, std::string_view end_data) {
  return at == 0 || blank(text[at - 1]) ||
         ends_with(text.substr(0, at), end_data);
}

// Feeds one byte to the stream's line and prompt bookkeeping.
void take_byte(ShellStream &stream, char byte) {
  if (byte != '\n') {
    if (byte == '\r')
      stream.ignore_columns = 0; // the device rewrites the line
    stream.line.put(byte);
    stream.ignore_columns =
        std::min(stream.ignore_columns, stream.line.text.size());
    return;
  }
  std::string_view own = trim_left(stream.line.trimmed().substr(
      std::min(stream.ignore_columns, stream.line.trimmed().size())));
  if (!own.empty() || stream.line.too_long) { // blank lines keep a run going
    PromptRun run = current_run(stream);
    stream.previous_prompt = run.prompt;
    stream.previous_count = run.count;
    stream.previous_start = run.start;
  }
  stream.line.new_line();
  stream.line_start = stream.processed + 1;
  stream.ignore_columns = 0;
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
  previous_prompt.clear();
  previous_count = 0;
  previous_start = 0;
  after_pager_return = false;
}

PromptRun current_run(const ShellStream &stream) {
  if (stream.line.too_long)
    return {};
  std::string_view text = stream.line.trimmed();
  std::string_view own =
      trim_left(text.substr(std::min(stream.ignore_columns, text.size())));
  const std::string &end_data = stream.end_data;
  if (!ends_with(own, end_data))
    return {};
  // The same prompt twice or more on this line: the longest one that
  // repeats is the prompt.
  for (size_t at = own.find(end_data);
       at != std::string_view::npos && at + end_data.size() < own.size();
       at = own.find(end_data, at + 1)) {
    std::string_view before = trim_right(own.substr(0, at + end_data.size()));
    std::string_view last = trim_left(own.substr(at + end_data.size()));
    // "$$$$" is a border, not "$$" twice: marks alone repeat only apart.
    bool apart = blank(own[at + end_data.size()]);
    if (!apart && last.find_first_not_of(end_data) == std::string_view::npos)
      continue;
    if (!ends_with(before, last) ||
        !run_boundary(before, before.size() - last.size(), end_data))
      continue;
    PromptRun run{std::string(last), 1, stream.line_start, false};
    std::string_view rest = before;
    while (ends_with(rest, last) &&
           run_boundary(rest, rest.size() - last.size(), end_data)) {
      ++run.count;
      rest = trim_right(rest.substr(0, rest.size() - last.size()));
    }
    if (rest.empty() && stream.previous_count > 0 &&
        stream.previous_prompt == last) {
      run.count += stream.previous_count;
      run.start = stream.previous_start;
      run.across_lines = true;
    }
    return run;
  }
  if (stream.previous_count > 0 && stream.previous_prompt == own)
    return {std::string(own), stream.previous_count + 1, stream.previous_start,
            true};
  return {std::string(own), 1, stream.line_start, false};
}

ShellStep feed(PromptFinder &finder, std::string_view more) {
  finder.stream.bytes.append(more);
  return advance(finder);
}

ShellStep advance(PromptFinder &finder) {
  ShellStream &stream = finder.stream;
  while (stream.processed < stream.bytes.size()) {
    take_plain_text(stream);
    if (stream.processed == stream.bytes.size())
      break;
    char byte = stream.bytes[stream.processed];
    take_byte(stream, byte);
    ++stream.processed;
    PromptRun run = current_run(stream);
    if (run.count == 0)
      continue;
    if (finder.confirm_enters == 0) {
      ++finder.confirm_enters;
      return ShellStep::SendEnter;
    }
    // Every Enter sent must have had its answer, or late ones would be taken
    // for the first command's output; the first Enter sent before any
    // prompt may have been taken to show it.
    size_t answers = finder.confirm_enters + finder.wake_enters -
                     (finder.wake_enters > 0 ? 1 : 0);
    if (run.count >= 2 && run.count - 1 >= answers) {
      finder.prompt = run.prompt;
      finder.echoes = run.across_lines;
      return ShellStep::Done;
    }
  }
  return ShellStep::Read;
}

ShellStep on_quiet(PromptFinder &finder) {
  PromptRun run = current_run(finder.stream);
  if (run.count >= 2) { // answers still due were dropped by the device
    finder.prompt = run.prompt;
    finder.echoes = run.across_lines;
    return ShellStep::Done;
  }
  size_t &sent = run.count == 1 ? finder.confirm_enters : finder.wake_enters;
  if (sent < QUIET_ENTERS) {
    ++sent;
    return ShellStep::SendEnter;
  }
  return ShellStep::Read;
}

void begin_command(CommandRead &read, std::string_view command) {
  read.stream.begin_read();
  read.typed = visible_line(command);
  read.echo_seen = !read.expect_echo || read.typed.empty();
  read.echo_text.clear();
  read.output_start = 0;
  read.end = {};
  read.pager_stop.clear();
}

ShellStep feed(CommandRead &read, std::string_view more) {
  ShellStream &stream = read.stream;
  stream.bytes.append(more);
  while (stream.processed < stream.bytes.size()) {
    take_plain_text(stream);
    if (stream.processed == stream.bytes.size())
      break;
    char byte = stream.bytes[stream.processed];
    // A pager erases its stop once it takes a key (the extra Enter): a
    // stop sent back to the line start, not ended by a line feed.
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
      read.echo_text += stream.line.trimmed();
    take_byte(stream, byte);
    ++stream.processed;
    if (awaiting_echo) {
      if (byte != '\n')
        continue;
      // The echo may wrap over several lines or follow a late message.
      if (ends_with(read.echo_text, read.typed)) {
        read.echo_seen = true;
        read.output_start = stream.processed;
        stream.previous_prompt.clear();
        stream.previous_count = 0;
      } else if (read.echo_text.size() > read.typed.size() + PROMPT_LINE_LIMIT)
        read.echo_seen = true; // not echoed after all: output from the start
      continue;
    }
    PromptRun run = current_run(stream);
    if (run.count >= 2) {
      read.end = run;
      return ShellStep::Done;
    }
  }
  return ShellStep::Read;
}

ShellStep on_quiet(CommandRead &read, bool long_quiet) {
  if (is_pager_stop(read.stream.line.trimmed())) {
    read.pager_stop = read.stream.line.trimmed();
    return ShellStep::PagerStop;
  }
  PromptRun run = current_run(read.stream);
  if (long_quiet && !read.echo_seen && run.count >= 2) { // not echoed
    read.end = run;
    read.output_start = 0;
    return ShellStep::Done;
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
