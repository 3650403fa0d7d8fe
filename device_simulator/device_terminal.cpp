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

void write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t done = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR)
      continue;
    if (done <= 0)
      std::exit(0);
    bytes.remove_prefix(static_cast<size_t>(done));
  }
}

void pause_ms(long milliseconds) {
  timespec span{milliseconds / 1000, (milliseconds % 1000) * 1000000};
  while (nanosleep(&span, &span) != 0 && errno == EINTR) {
  }
}

} // namespace device_sim
