#include "tests/support/loopback.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

std::string closed_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bool bound =
      fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
  if (fd >= 0)
    close(fd); // bound, never listened
  if (!bound)
    throw std::runtime_error("bind on 127.0.0.1 failed");
  return std::to_string(ntohs(address.sin_port));
}

} // namespace testing_support
