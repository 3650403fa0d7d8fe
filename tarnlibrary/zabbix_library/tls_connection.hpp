// One TLS session over a connected socket, every wait bounded like the
// unencrypted exchange.
#pragma once

#include "tarnlibrary/zabbix_library/tcp_socket.hpp"
#include "tarnlibrary/zabbix_library/zabbix_tls.hpp"

#include <memory>
#include <string>
#include <string_view>

struct ssl_st;

namespace tarn {

class TlsConnection {
public:
  // Completes the handshake and checks the server's certificate names.
  // Throws std::runtime_error saying what a person should check,
  // TimeoutException when the run's bound passes.
  TlsConnection(const ZabbixTls &tls, const TcpSocket &socket,
                SteadyTime until);
  ~TlsConnection();
  TlsConnection(const TlsConnection &) = delete;
  TlsConnection &operator=(const TlsConnection &) = delete;

  void send_all(std::string_view bytes, SteadyTime until);
  // Reads until count bytes came or the peer closed; returns what came.
  std::string receive(size_t count, SteadyTime until);

private:
  const TlsConfig &config_;
  const TcpSocket &socket_;
  std::unique_ptr<ssl_st, void (*)(ssl_st *)> ssl_;
  bool established_ = false;
};

} // namespace tarn
