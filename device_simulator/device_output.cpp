#include "device_simulator/device_output.hpp"
#include "device_simulator/device_terminal.hpp"

#include <fstream>
#include <sstream>
#include <vector>

namespace device_sim {
namespace {

constexpr size_t FLUSH_SIZE = 1 << 16;

std::string read_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Feeds each line of text to the pager; a last line without a line end
// gets one, so the prompt starts a line of its own.
bool page_text(Pager &pager, const std::string &text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      return pager.line(text.substr(start) + "\r\n");
    }
    if (!pager.line(std::string_view(text).substr(start, end + 1 - start)))
      return false;
    start = end + 1;
  }
  return true;
}

void show_summary(const DeviceConfig &config, Pager &pager) {
  if (config.has("huge-output")) {
    const long total = config.huge_mib << 20;
    long written = 0;
    for (long number = 0; written <= total; ++number) {
      std::string line = "  Filler counter " + std::to_string(number) +
                         std::string(60, ' ') + std::to_string(number) + "\r\n";
      written += static_cast<long>(line.size());
      if (!pager.line(line))
        return;
    }
    return;
  }
  std::string text = read_file(config.summary_file);
  if (!page_text(pager, text))
    return;
  long lines = 0;
  for (char byte : text)
    lines += byte == '\n';
  for (long number = lines; number < config.summary_lines; ++number) {
    if (!pager.line("  Filler counter " + std::to_string(number) +
                    "                 " + std::to_string(number * 7) + "\r\n"))
      return;
  }
  if (config.has("invalid-utf8"))
    pager.line(INVALID_UTF8_LINE);
}

std::vector<std::string> words_of(const std::string &line) {
  std::istringstream stream(line);
  std::vector<std::string> words;
  std::string word;
  while (stream >> word)
    words.push_back(word);
  return words;
}

} // namespace

bool Pager::line(std::string_view text) {
  if (stopped)
    return false;
  pending.append(text);
  ++lines_on_page;
  if (line_pause_ms > 0) {
    flush();
    pause_ms(line_pause_ms);
  } else if (pending.size() >= FLUSH_SIZE) {
    flush();
  }
  if (page_length > 0 && lines_on_page >= page_length - 1) {
    flush();
    write_all("--More--");
    unsigned char key = read_byte();
    write_all("\r        \r");
    if (key == 'q')
      stopped = true;
    else if (key == '\r' || key == '\n')
      lines_on_page = page_length - 2;
    else
      lines_on_page = 0;
  }
  return !stopped;
}

void Pager::flush() {
  write_all(pending);
  pending.clear();
}

std::string prompt_text(const DeviceConfig &config) {
  if (!config.has("colour-prompt"))
    return config.prompt;
  // A title sequence, then the name in colour and the mark left coloured.
  std::string name = config.prompt;
  while (!name.empty() && (name.back() == ' ' || name.back() == '$'))
    name.pop_back();
  return "\033]0;" + name + "\007\033[1;32m" + name + "\033[0m$\033[0m ";
}

void print_banner(const DeviceConfig &config) {
  if (config.has("last-login"))
    write_all("Last login: Tue Dec  8 16:00:00 2026 from 192.0.2.7\r\n");
  if (config.has("dollar-box")) {
    // A box of "$" that pauses after a line ending in "$".
    const std::string border(32, '$');
    write_all(border + "\r\n$  Authorised access only       $");
    pause_ms(300);
    write_all("\r\n$  Every session is logged      $\r\n" + border + "\r\n");
  }
  write_all("\r\nCGNAT simulated device\r\n"
            "Commands: show cgnat summary, show cgnat errors\r\n");
  if (config.has("dollar-banner")) {
    // A line ending in "$" that arrives well before its line end: a reader
    // that stops at the first "$" takes it for the prompt.
    write_all("Monthly fee: US$ 0.00 per session, billed in $\r\n"
              "Balance due in $");
    pause_ms(300);
    write_all("\r\n");
  }
  write_all("\r\n");
}

bool answer(DeviceConfig &config, const std::string &command) {
  std::vector<std::string> words = words_of(command);
  if (words.empty())
    return true;
  if (config.has("slow"))
    pause_ms(config.slow_ms);
  Pager pager;
  pager.page_length = config.page_length;
  pager.line_pause_ms = config.has("slow") ? 10 : 0;
  if (words == std::vector<std::string>{"exit"} ||
      words == std::vector<std::string>{"quit"})
    return false;
  if (words.size() == 4 && words[0] == "set" && words[1] == "cli" &&
      words[2] == "screen-length") {
    try {
      if (!config.has("ignore-screen-length"))
        config.page_length = std::stol(words[3]);
      return true;
    } catch (const std::exception &) {
    }
  } else if (words == std::vector<std::string>{"show", "cgnat", "summary"}) {
    show_summary(config, pager);
    pager.flush();
    return true;
  } else if (words == std::vector<std::string>{"show", "cgnat", "errors"}) {
    page_text(pager, read_file(config.errors_file));
    pager.flush();
    return true;
  }
  write_all("% Invalid command: " + command + "\r\n");
  return true;
}

} // namespace device_sim
