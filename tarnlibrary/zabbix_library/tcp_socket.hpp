// A TCP client socket bounded in time: every wait goes through the run's
// deadline and a per-exchange limit.
#pragma once

#include "tarnlibrary/zabbix_library/zabbix_library.hpp"

#include <chrono>
#include <string>
#include <string_view>

namespace tarn {

using SteadyTime = std::chrono::steady_clock::time_point;

// Owns one descriptor and closes it on every path.
class TcpSocket {
public:
  explicit TcpSocket(int fd = -1) : fd_(fd) {}
  ~TcpSocket();
  TcpSocket(TcpSocket &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TcpSocket &operator=(TcpSocket &&other) noexcept;
  TcpSocket(const TcpSocket &) = delete;
  TcpSocket &operator=(const TcpSocket &) = delete;
  int fd() const { return fd_; }

private:
  int fd_;
};

// Connects to the first of the server's addresses that accepts before until.
// Throws std::runtime_error with the reason (in Portuguese) when none does,
// TimeoutException when the run's bound passes.
TcpSocket tcp_connect(const ServerAddress &server, SteadyTime until);

// Writes all of bytes before until, or throws as tcp_connect does.
void tcp_send_all(const TcpSocket &socket, std::string_view bytes,
                  SteadyTime until);

// Reads until count bytes came or the peer closed; returns what came.
// Throws as tcp_connect does when until passes first.
std::string tcp_receive(const TcpSocket &socket, size_t count,
                        SteadyTime until);

// Waits until socket is ready for events (POLLIN/POLLOUT), or throws as
// tcp_connect does when until passes first.
void tcp_await(const TcpSocket &socket, short events, SteadyTime until,
               const char *waiting_for);

// Waits up to cap_ms, and not past the run's bound, for the peer to close
// its side; returns either way, without throwing.
void tcp_await_peer_close(const TcpSocket &socket, int cap_ms);

} // namespace tarn
