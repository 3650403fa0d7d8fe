#include "tarnlibrary/ssh_library/shell_reading.hpp"

#include <cstring>

namespace tarn {
namespace {

constexpr char ESC = '\033';

// Skips the escape sequence starting at raw[at] (an ESC); returns the index
// after it.
size_t skip_escape(std::string_view raw, size_t at) {
  size_t next = at + 1;
  if (next >= raw.size())
    return next;
  char kind = raw[next++];
  if (kind == '[') { // CSI: parameters, then one final byte
    while (next < raw.size() && !(raw[next] >= 0x40 && raw[next] <= 0x7E))
      ++next;
    return next + 1;
  }
  if (kind == ']') { // OSC: up to BEL or ESC backslash
    while (
        next < raw.size() && raw[next] != '\a' &&
        !(raw[next] == ESC && next + 1 < raw.size() && raw[next + 1] == '\\'))
      ++next;
    return next < raw.size() && raw[next] == ESC ? next + 2 : next + 1;
  }
  // Other sequences: intermediate bytes, then one final byte.
  --next;
  while (next < raw.size() && raw[next] >= 0x20 && raw[next] <= 0x2F)
    ++next;
  return next + 1;
}

bool ends_with(std::string_view text, std::string_view end) {
  return !end.empty() && text.size() >= end.size() &&
         text.substr(text.size() - end.size()) == end;
}

// The visible last line when it could be a prompt ending in end_data.
bool prompt_like(const ShellBuffer &buffer, std::string_view end_data,
                 std::string &visible) {
  std::string_view last = buffer.last_line();
  if (last.size() > PROMPT_LINE_LIMIT)
    return false;
  visible = visible_line(last);
  return ends_with(visible, end_data);
}

} // namespace

std::string visible_line(std::string_view raw) {
  std::string text;
  text.reserve(raw.size());
  for (size_t at = 0; at < raw.size();) {
    char byte = raw[at];
    if (byte == ESC) {
      at = skip_escape(raw, at);
      continue;
    }
    if (static_cast<unsigned char>(byte) >= 0x20 && byte != 0x7F)
      text.push_back(byte);
    ++at;
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.pop_back();
  return text;
}

void ShellBuffer::append(std::string_view more) {
  size_t old_size = bytes.size();
  bytes.append(more);
  const void *line_end = memrchr(bytes.data() + old_size, '\n', more.size());
  if (line_end != nullptr)
    last_line_start = static_cast<const char *>(line_end) - bytes.data() + 1;
}

std::string_view ShellBuffer::last_line() const {
  return std::string_view(bytes).substr(last_line_start);
}

PromptStep feed(PromptFinder &finder, std::string_view more) {
  finder.buffer.append(more);
  std::string visible;
  if (!prompt_like(finder.buffer, finder.end_data, visible))
    return PromptStep::Read;
  const std::string &bytes = finder.buffer.bytes;
  auto new_candidate = [&] {
    finder.candidate = visible;
    finder.counted_upto = 0;
    finder.candidate_lines = 0;
    ++finder.enters_sent;
    finder.sent_at = bytes.size();
    return PromptStep::SendEmptyLine;
  };
  if (finder.enters_sent == 0)
    return new_candidate();
  // The device has not answered the empty line until its line end shows.
  if (bytes.find('\n', finder.sent_at) == std::string::npos)
    return PromptStep::Read;
  if (visible != finder.candidate)
    return new_candidate();
  // Every empty line sent must have had its prompt, or a late one would
  // be taken for the next command's output.
  while (finder.counted_upto < finder.buffer.last_line_start) {
    size_t end = bytes.find('\n', finder.counted_upto);
    std::string_view line = std::string_view(bytes).substr(
        finder.counted_upto, end - finder.counted_upto);
    if (line.size() <= PROMPT_LINE_LIMIT && visible_line(line) == visible)
      ++finder.candidate_lines;
    finder.counted_upto = end + 1;
  }
  // candidate_lines counts the complete ones; the last line is one more.
  if (finder.candidate_lines < finder.enters_sent)
    return PromptStep::Read;
  finder.prompt = visible;
  return PromptStep::Found;
}

bool feed(CommandRead &read, std::string_view more) {
  size_t old_size = read.buffer.bytes.size();
  read.buffer.append(more);
  const std::string &bytes = read.buffer.bytes;
  if (read.output_start == std::string::npos) {
    size_t line_end = bytes.find('\n', old_size);
    if (line_end == std::string::npos) {
      // A device without echo and with nothing to say.
      std::string_view last = read.buffer.last_line();
      if (last.size() > PROMPT_LINE_LIMIT || visible_line(last) != read.prompt)
        return false;
      read.output_start = 0;
      return true;
    }
    // The first line is the echo when it ends with the command; a device
    // that does not echo starts its output right away.
    std::string typed = visible_line(read.command);
    std::string first =
        visible_line(std::string_view(bytes).substr(0, line_end));
    bool echoed = typed.empty() ? first.empty() : ends_with(first, typed);
    read.output_start = echoed ? line_end + 1 : 0;
  }
  if (read.buffer.last_line_start < read.output_start)
    return false;
  std::string_view last = read.buffer.last_line();
  return last.size() <= PROMPT_LINE_LIMIT && visible_line(last) == read.prompt;
}

std::string take_command_output(CommandRead &read) {
  std::string output = std::move(read.buffer.bytes);
  output.resize(read.buffer.last_line_start);
  output.erase(0, read.output_start);
  read.buffer = ShellBuffer{};
  return output;
}

} // namespace tarn
