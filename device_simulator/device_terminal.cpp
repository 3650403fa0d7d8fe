#include "device_simulator/device_terminal.hpp"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace device_sim {
namespace {

termios saved_mode;
bool mode_saved = false;
// A cooked terminal turns each LF written into CR LF itself.
bool terminal_adds_cr = false;
int input_fd = STDIN_FILENO;
std::mutex output_lock; // the echo thread and the device take turns

void restore_mode() {
  if (mode_saved)
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
}

// Writes everything to fd; false once its reader is gone.
bool write_whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t done = ::write(fd, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR)
      continue;
    if (done <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(done));
  }
  return true;
}

void write_raw(std::string_view bytes) {
  std::lock_guard<std::mutex> hold(output_lock);
  if (!write_whole(STDOUT_FILENO, bytes))
    std::exit(0);
}

// A cooked terminal's work on bytes that come on a pipe (ICRNL, ECHO,
// ECHOE, ECHOCTL, ICANON with ERASE = DEL): each piece is echoed as soon as
// it is read, then its finished lines go to the device through `lines`.
void line_discipline(int lines) {
  std::string line;
  for (;;) {
    char chunk[4096];
    ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    std::string echo, finished;
    for (ssize_t at = 0; at < got; ++at) {
      char byte = chunk[at] == '\r' ? '\n' : chunk[at];
      if (byte == '\n') {
        echo += "\r\n";
        finished += line + '\n';
        line.clear();
      } else if (byte == 0x7f) {
        if (!line.empty()) {
          line.pop_back();
          echo += "\b \b";
        }
      } else if (static_cast<unsigned char>(byte) < 0x20 && byte != '\t') {
        echo += {'^', static_cast<char>(byte ^ 0x40)};
        line += byte;
      } else {
        echo += byte;
        line += byte;
      }
    }
    write_raw(echo);
    write_whole(lines, finished);
  }
  write_whole(lines, line); // a last line without its end, as at end of file
  ::close(lines);
}

} // namespace

void open_terminal(bool terminal_echoes) {
  const bool terminal =
      isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_mode) == 0;
  if (terminal && terminal_echoes) {
    terminal_adds_cr =
        (saved_mode.c_oflag & OPOST) && (saved_mode.c_oflag & ONLCR);
    return; // the terminal is cooked already, as a login leaves it
  }
  if (terminal) {
    mode_saved = true;
    std::atexit(restore_mode);
    termios raw = saved_mode;
    cfmakeraw(&raw);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    return;
  }
  if (!terminal_echoes)
    return;
  int lines[2];
  if (pipe(lines) != 0)
    std::exit(2);
  input_fd = lines[0];
  // Blocked in read() when the device ends: nothing to join.
  std::thread(line_discipline, lines[1]).detach();
}

unsigned char read_byte() {
  static unsigned char buffer[4096];
  static ssize_t filled = 0, next = 0;
  while (next >= filled) {
    ssize_t got = ::read(input_fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      std::exit(0);
    filled = got;
    next = 0;
  }
  return buffer[next++];
}

long terminal_columns() {
  winsize size{};
  if (ioctl(STDIN_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return 511;
}

namespace {

OutputShape shape;

// A cut before byte `at` of text: just before and after "$", between CR
// and LF, after ESC and after "[" of a sequence.
bool cut_before(std::string_view text, size_t at) {
  char here = text[at], before = text[at - 1];
  return here == '$' || before == '$' || (before == '\r' && here == '\n') ||
         before == '\033' ||
         (before == '[' && at >= 2 && text[at - 2] == '\033');
}

} // namespace

void set_output_shape(const OutputShape &new_shape) { shape = new_shape; }

void write_all(std::string_view bytes) {
  std::string line_end = shape.line_end;
  for (size_t at = 0; terminal_adds_cr &&
                      (at = line_end.find("\r\n", at)) != std::string::npos;)
    line_end.erase(at, 1);
  std::string text;
  for (size_t at = 0; at < bytes.size(); ++at) {
    if (bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n') {
      text += line_end;
      ++at;
    } else
      text += bytes[at];
  }
  if (shape.byte_wise) {
    for (char byte : text) {
      write_raw(std::string_view(&byte, 1));
      if (shape.byte_pause_ms > 0)
        pause_ms(shape.byte_pause_ms);
    }
    return;
  }
  if (!shape.cut) {
    write_raw(text);
    return;
  }
  size_t piece = 0;
  for (size_t at = 1; at < text.size(); ++at)
    if (cut_before(text, at)) {
      write_raw(std::string_view(text).substr(piece, at - piece));
      pause_ms(20); // each piece arrives in a read of its own
      piece = at;
    }
  write_raw(std::string_view(text).substr(piece));
}

void pause_ms(long milliseconds) {
  timespec span{milliseconds / 1000, (milliseconds % 1000) * 1000000};
  while (nanosleep(&span, &span) != 0 && errno == EINTR) {
  }
}

} // namespace device_sim
