// A small CGNAT command line for tests: run as the forced command of a test
// user under sshd, or directly on a pipe. Arguments: --config FILE and/or
// key=value settings (see device_config.hpp).
#include "device_simulator/device_config.hpp"
#include "device_simulator/device_output.hpp"
#include "device_simulator/device_terminal.hpp"

#include <cstdio>
#include <exception>
#include <string>

namespace device_sim {
namespace {

constexpr std::string_view BRACKETED_PASTE_ON = "\033[?2004h";
constexpr std::string_view BRACKETED_PASTE_OFF = "\033[?2004l\r";
constexpr std::string_view ERASE_LINE = "\r\033[K";

// Columns the text takes on a screen: escape sequences, control bytes and
// UTF-8 continuation bytes take none, and a CR goes back to column 0.
size_t visible_width(std::string_view text) {
  size_t width = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte == '\033') { // skip CSI and OSC sequences
      if (at + 1 < text.size() && text[at + 1] == ']')
        at = text.find('\007', at);
      else
        while (++at < text.size() &&
               !(text[at] >= 0x40 && text[at] <= 0x7e && text[at] != '['))
          ;
      if (at == std::string::npos)
        break;
    } else if (byte == '\r')
      width = 0;
    else if (byte >= 0x20 && (byte & 0xC0) != 0x80)
      ++width;
  }
  return width;
}

// What fish 3.6 writes around each prompt on a vt100 terminal: its
// end-of-line mark, dim, padded out to the last column (tputs' NUL padding,
// and terminfo's "$<2>" written as it stands), CR, the mark again, CR and
// erase; after the prompt an erase, then CR and a move right to the end of
// the prompt.
std::string fish_before_prompt(long columns) {
  const std::string sgr0 = std::string("\033[m\017") + std::string(8, '\0');
  return sgr0 + "\u23ce\033[m\017$<2>" +
         std::string(static_cast<size_t>(columns > 1 ? columns - 1 : 0), ' ') +
         "\r\u23ce \r\033[K$<3>";
}
std::string fish_after_prompt(size_t prompt_width) {
  return "\033[K" + std::string(12, '\0') + "\r\033[" +
         std::to_string(prompt_width) + "C";
}

// The prompt as this device shows it after `commands` commands.
std::string prompt_now(const DeviceConfig &config, long commands) {
  std::string prompt = prompt_text(config);
  if (config.has("changing-prompt")) { // a mode or counter in the prompt
    size_t mark = prompt.rfind('$');
    if (mark != std::string::npos)
      prompt.insert(mark, "(" + std::to_string(commands) + ")");
  }
  if (config.has("prompt-escapes"))
    prompt += "\033[0m\033[?25h";
  std::string before;
  if (config.has("fish-padding")) {
    before = fish_before_prompt(config.columns);
    prompt += fish_after_prompt(visible_width(prompt));
  }
  if (config.has("erase-prompt"))
    before += ERASE_LINE;
  if (config.has("line-editor") || config.has("paste-codes"))
    before += BRACKETED_PASTE_ON;
  return before + prompt;
}

void show_prompt(const DeviceConfig &config, long commands) {
  std::string prompt = prompt_now(config, commands);
  if (config.has("slow") && prompt.size() > 2) {
    // The prompt in two pieces: a partial prompt must not end a read.
    write_all(prompt.substr(0, prompt.size() / 2));
    pause_ms(50);
    write_all(prompt.substr(prompt.size() / 2));
  } else
    write_all(prompt);
  if (config.has("redraw-prompt")) // as after a terminal resize
    write_all(std::string(ERASE_LINE) + prompt);
  if (config.has("double-prompt"))
    write_all("\r\n" + prompt);
}

// Messages that arrive while the prompt shows, each redrawing it.
void late_messages(const DeviceConfig &config, long commands, bool first) {
  std::string prompt = prompt_now(config, commands);
  if (first && config.has("late-motd")) {
    pause_ms(200);
    write_all("\r\nMessage of the day: maintenance window Sunday 02:00-04:00 "
              "UTC\r\n\r\n" +
              prompt);
  }
  if (first && config.has("wall")) {
    pause_ms(200);
    write_all("\r\n\r\nBroadcast message from root@cgnat-device (pts/1) "
              "(Tue Dec  8 16:00:00 2026):\r\n\r\nThe CGNAT service restarts "
              "at 23:00\r\n\r\n" +
              prompt);
  }
  if (!first && config.has("syslog-redraw")) {
    pause_ms(100);
    write_all("\r\033[K%NAT-6-IDLE: session idle, 5 minutes left\r\n" + prompt);
  }
}

// Reads one line, echoing it as the device's line editor does (or not at
// all). CR LF counts as one line end. `column` is where the echo starts.
std::string read_line(const DeviceConfig &config, size_t column) {
  static bool after_cr = false;
  const bool echo = !config.has("no-echo") && !config.has("tty-echo");
  const bool editor = config.has("line-editor");
  std::string line;
  for (;;) {
    unsigned char byte = read_byte();
    if (byte == '\n' && after_cr) {
      after_cr = false;
      continue;
    }
    after_cr = byte == '\r';
    if (editor && echo)
      pause_ms(config.echo_pause_ms);
    if (byte == '\r' || byte == '\n') {
      if (echo)
        write_all(editor ? "\033[?2004l\r\r\n" : "\r\n");
      return line;
    }
    if (byte == 0x7f || byte == '\b') {
      if (!line.empty()) {
        line.pop_back();
        if (echo)
          write_all("\b \b");
      }
    } else if (byte == 0x03) {
      if (echo)
        write_all("^C\r\n");
      return "";
    } else if (byte >= 0x20 || byte == '\t') {
      line.push_back(static_cast<char>(byte));
      if (echo)
        write_all(std::string(1, static_cast<char>(byte)));
      if (echo && editor && config.echo_width > 0 &&
          (column + line.size()) % static_cast<size_t>(config.echo_width) == 0)
        write_all("\r\n"); // the echo wraps at the device's width
    }
  }
}

void apply_shape(const DeviceConfig &config) {
  OutputShape shape;
  if (config.has("cr-cr-lf"))
    shape.line_end = "\r\r\n";
  if (config.has("lf-cr"))
    shape.line_end = "\n\r";
  shape.byte_wise = config.has("byte-wise");
  shape.byte_pause_ms = config.byte_pause_ms;
  shape.cut = config.has("cut-output");
  set_output_shape(shape);
}

// Reads the next line, then writes what the shell writes once it has one.
std::string next_line(const DeviceConfig &config, long commands) {
  std::string line =
      read_line(config, visible_width(prompt_now(config, commands)));
  if (config.has("paste-codes") && !config.has("line-editor"))
    write_all(BRACKETED_PASTE_OFF);
  return line;
}

int run(DeviceConfig &config) {
  open_terminal(config.has("tty-echo"));
  if (config.columns == 0)
    config.columns = terminal_columns();
  apply_shape(config);
  if (config.has("slow"))
    pause_ms(config.slow_ms);
  pause_ms(config.banner_delay_ms); // a slow login profile
  print_banner(config);
  if (config.has("enter-first")) // no prompt until an Enter comes
    read_line(config, 0);
  if (config.has("late-prompt"))
    pause_ms(1000);
  long commands = 0;
  bool first = true;
  for (;;) {
    if (!config.has("no-prompt")) {
      show_prompt(config, commands);
      late_messages(config, commands, first);
    }
    std::string line = next_line(config, commands);
    first = false;
    if (config.has("no-prompt"))
      continue;
    bool command = line.find_first_not_of(" \t") != std::string::npos;
    if (command && ++commands == config.drop_after && config.has("drop"))
      return 0;
    if (!answer(config, line))
      return 0;
  }
}

} // namespace
} // namespace device_sim

int main(int argc, char **argv) {
  device_sim::DeviceConfig config;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string word = argv[i];
      if (word == "--config" && i + 1 < argc)
        device_sim::read_config_file(config, argv[++i]);
      else
        device_sim::apply_setting(config, word);
    }
  } catch (const std::exception &error) {
    std::fprintf(stderr, "cgnat-device: %s\n", error.what());
    return 2;
  }
  return device_sim::run(config);
}
