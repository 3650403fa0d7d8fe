// Keeping one command-line word (the password) out of sight of other users.
#include "tarnlibrary/process_library/process_library.hpp"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tarn {

void disable_core_dumps() {
  // Not dumpable: no core file, and /proc/PID/mem, environ and fd become
  // root's only.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
}

void hide_word(int argc, char **argv, int index, std::string_view mask) {
  if (index <= 0 || index >= argc || argv[index][0] == '\0')
    return; // nothing to hide
  char *start = argv[0];
  char *end = start;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != end) { // not laid out as the kernel does: wipe in place
      explicit_bzero(argv[index], std::strlen(argv[index]));
      return;
    }
    end += std::strlen(argv[i]) + 1;
  }
  // The words again, the mask in place of the hidden one; what is left of
  // the area becomes zero bytes.
  std::string packed;
  for (int i = 0; i < argc; ++i) {
    packed += i == index ? mask : std::string_view(argv[i]);
    packed += '\0';
  }
  size_t area = static_cast<size_t>(end - start);
  if (packed.size() > area) { // a mask longer than the word
    explicit_bzero(argv[index], std::strlen(argv[index]));
    return;
  }
  explicit_bzero(start, area);
  std::memcpy(start, packed.data(), packed.size());
}

std::optional<std::string> take_inherited_secret() {
  const char *number = std::getenv(SECRET_FD_VARIABLE);
  if (number == nullptr)
    return std::nullopt;
  int fd = -1;
  const char *last = number + std::strlen(number);
  auto parsed = std::from_chars(number, last, fd);
  ::unsetenv(SECRET_FD_VARIABLE);
  if (parsed.ec != std::errc() || parsed.ptr != last || fd < 0)
    throw std::runtime_error(std::string(SECRET_FD_VARIABLE) +
                             " não indica um descritor de arquivo");
  std::string secret;
  char buffer[4096];
  for (off_t offset = 0;;) {
    ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      int error = errno;
      ::close(fd);
      throw std::runtime_error("não foi possível ler a senha herdada: " +
                               std::string(std::strerror(error)));
    }
    if (n == 0)
      break;
    secret.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  explicit_bzero(buffer, sizeof buffer);
  ::close(fd);
  return secret;
}

} // namespace tarn
