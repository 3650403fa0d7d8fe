#include "device_simulator/device_terminal.hpp"

#include <cerrno>
#include <cstdlib>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace device_sim {
namespace {

termios saved_mode;
bool mode_saved = false;

void restore_mode() {
  if (mode_saved)
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
}

} // namespace

void enter_raw_mode() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_mode) != 0)
    return;
  mode_saved = true;
  std::atexit(restore_mode);
  termios raw = saved_mode;
  cfmakeraw(&raw);
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

unsigned char read_byte() {
  static unsigned char buffer[4096];
  static ssize_t filled = 0, next = 0;
  while (next >= filled) {
    ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      std::exit(0);
    filled = got;
    next = 0;
  }
  return buffer[next++];
}

namespace {

OutputShape shape;

void write_raw(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t done = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR)
      continue;
    if (done <= 0)
      std::exit(0);
    bytes.remove_prefix(static_cast<size_t>(done));
  }
}

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
  std::string text;
  for (size_t at = 0; at < bytes.size(); ++at) {
    if (bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n') {
      text += shape.line_end;
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
