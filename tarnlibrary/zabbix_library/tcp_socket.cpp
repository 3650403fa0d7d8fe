#include "tarnlibrary/zabbix_library/tcp_socket.hpp"

#include "tarnlibrary/process_library/process_library.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace tarn {
namespace {

using AddressList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

std::string errno_text(int error) {
  switch (error) {
  case ECONNREFUSED:
    return "conexão recusada (nada escuta nessa porta?)";
  case ECONNRESET:
    return "conexão reiniciada pelo servidor";
  case EPIPE:
    return "conexão fechada pelo servidor durante o envio";
  case ETIMEDOUT:
    return "tempo de conexão esgotado";
  case EHOSTUNREACH:
    return "host inalcançável";
  case ENETUNREACH:
    return "rede inalcançável";
  default:
    return std::strerror(error);
  }
}

// Milliseconds left before until; a passed limit is a failed exchange.
int millis_left(SteadyTime until, const char *waiting_for) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(
                  until - std::chrono::steady_clock::now())
                  .count();
  if (left <= 0)
    throw std::runtime_error(std::string("tempo esgotado ") + waiting_for);
  return static_cast<int>(left);
}

// Waits for events on fd; throws the timeout reason when until passes first.
void await(int fd, short events, SteadyTime until, const char *waiting_for) {
  while (wait_for_fd(fd, events, millis_left(until, waiting_for)) == 0)
    ;
}

// An address given as digits needs no lookup: taking it as such first spares
// each of a run's 36 deliveries the resolver's netlink and nscd queries.
AddressList resolve(const ServerAddress &server) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  addrinfo *found = nullptr;
  int status =
      getaddrinfo(server.host.c_str(), server.port.c_str(), &hints, &found);
  if (status == EAI_NONAME) {
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    status =
        getaddrinfo(server.host.c_str(), server.port.c_str(), &hints, &found);
  }
  if (status != 0)
    throw std::runtime_error(std::string("não foi possível resolver \"") +
                             server.host + "\": " + gai_strerror(status));
  return AddressList(found, freeaddrinfo);
}

// One non-blocking connect attempt; returns 0 or the errno that ended it.
int try_connect(TcpSocket &socket, const addrinfo &address, SteadyTime until) {
  TcpSocket attempt(::socket(address.ai_family,
                             address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             address.ai_protocol));
  if (attempt.fd() < 0)
    return errno;
  if (::connect(attempt.fd(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS)
      return errno;
    await(attempt.fd(), POLLOUT, until, "na conexão");
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(attempt.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
      return errno;
    if (error != 0)
      return error;
  }
  socket = std::move(attempt);
  return 0;
}

} // namespace

TcpSocket::~TcpSocket() {
  if (fd_ >= 0)
    ::close(fd_);
}

TcpSocket &TcpSocket::operator=(TcpSocket &&other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

TcpSocket tcp_connect(const ServerAddress &server, SteadyTime until) {
  AddressList addresses = resolve(server);
  int last_error = 0;
  for (const addrinfo *address = addresses.get(); address;
       address = address->ai_next) {
    TcpSocket socket;
    last_error = try_connect(socket, *address, until);
    if (last_error == 0)
      return socket;
  }
  throw std::runtime_error(errno_text(last_error));
}

void tcp_send_all(const TcpSocket &socket, std::string_view bytes,
                  SteadyTime until) {
  while (!bytes.empty()) {
    await(socket.fd(), POLLOUT, until, "no envio");
    ssize_t sent = ::send(socket.fd(), bytes.data(), bytes.size(),
                          MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        continue;
      throw std::runtime_error(errno_text(errno));
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
}

void tcp_await(const TcpSocket &socket, short events, SteadyTime until,
               const char *waiting_for) {
  await(socket.fd(), events, until, waiting_for);
}

void tcp_await_peer_close(const TcpSocket &socket, int cap_ms) {
  // The answer is in: neither the run's bound (it ends the run at its next
  // step) nor a failed poll makes the delivered item a failed one.
  try {
    wait_for_fd(socket.fd(), POLLRDHUP, cap_ms);
  } catch (const TimeoutException &) {
  } catch (const std::system_error &) {
  }
}

std::string tcp_receive(const TcpSocket &socket, size_t count,
                        SteadyTime until) {
  std::string received;
  char buffer[4096];
  while (received.size() < count) {
    await(socket.fd(), POLLIN, until, "esperando a resposta");
    size_t want = std::min(sizeof buffer, count - received.size());
    ssize_t got = ::recv(socket.fd(), buffer, want, MSG_DONTWAIT);
    if (got == 0)
      break;
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        continue;
      throw std::runtime_error(errno_text(errno));
    }
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

} // namespace tarn
