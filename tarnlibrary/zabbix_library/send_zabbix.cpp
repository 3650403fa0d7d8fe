#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/zabbix_library/framing.hpp"
#include "tarnlibrary/zabbix_library/tcp_socket.hpp"
#include "tarnlibrary/zabbix_library/tls_connection.hpp"
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"

#include <stdexcept>

namespace tarn {
namespace {

std::string display_name(const ServerAddress &server) {
  bool ipv6 = server.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + server.host + "]" : server.host) + ":" + server.port;
}

// The unencrypted stream: the socket itself.
struct PlainStream {
  const TcpSocket &socket;
  void send_all(std::string_view bytes, SteadyTime until) {
    tcp_send_all(socket, bytes, until);
  }
  std::string receive(size_t count, SteadyTime until) {
    return tcp_receive(socket, count, until);
  }
};

template <class Stream>
std::optional<ZabbixRedirect>
converse(Stream &stream, const std::string &request, const std::string &chave,
         SteadyTime until, const char *closed_hint) {
  stream.send_all(request, until);
  std::string header = stream.receive(ZABBIX_HEADER_SIZE, until);
  if (header.empty())
    throw std::runtime_error(std::string("a conexão foi fechada sem resposta") +
                             closed_hint);
  uint32_t length = zabbix_answer_length(header);
  std::string body = stream.receive(length, until);
  if (body.size() < length)
    throw std::runtime_error("resposta truncada: a conexão foi fechada após " +
                             std::to_string(body.size()) + " de " +
                             std::to_string(length) + " bytes anunciados");
  return zabbix_judge_answer(body, chave);
}

// The server closes right after its answer. Letting it close first leaves
// the connection's TIME_WAIT (a minute) on the server's side: closing first
// left one here per item, and 36 per device and interval use up the ~28,000
// local ports towards one server at about 780 devices a minute.
void let_server_close_first(const TcpSocket &socket) {
  tcp_await_peer_close(socket, ZABBIX_CLOSE_WAIT_MS);
}

std::optional<ZabbixRedirect> exchange(const ServerAddress &server,
                                       const ZabbixTls &tls,
                                       const std::string &request,
                                       const std::string &chave) {
  SteadyTime until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(ZABBIX_EXCHANGE_LIMIT_MS);
  TcpSocket socket = tcp_connect(server, until);
  if (tls.mode() == TlsMode::unencrypted) {
    PlainStream plain{socket};
    auto redirect = converse(plain, request, chave, until, "");
    let_server_close_first(socket);
    return redirect;
  }
  TlsConnection secure(tls, socket, until);
  // A client certificate the server does not trust ends the session after
  // the handshake, without a word.
  auto redirect =
      converse(secure, request, chave, until,
               tls.mode() == TlsMode::cert
                   ? " (o servidor pode ter recusado o certificado do cliente: "
                     "confira se a CA do TLSCAFile do servidor o emitiu)"
                   : "");
  let_server_close_first(socket);
  return redirect;
}

[[noreturn]] void fail_at(const std::string &where, const std::string &why) {
  throw std::runtime_error("servidor Zabbix " + where + ": " + why);
}

// Runs step; an ordinary failure comes back naming where it happened, the
// run's bound as it is.
template <class Step> auto at(const std::string &where, Step step) {
  try {
    return step();
  } catch (const TimeoutException &) {
    throw;
  } catch (const std::exception &failure) {
    fail_at(where, failure.what());
  }
}

} // namespace

void send_zabbix(const std::string &zabbix_server,
                 const std::string &zabbix_host, const std::string &chave,
                 const std::string &item, const ZabbixTls &tls,
                 ZabbixRoute &route) {
  check_deadline();
  const ServerAddress server = parse_server_address(zabbix_server);
  const std::string configured = display_name(server);
  const ServerAddress first = route.redirected.value_or(server);
  const std::string first_name =
      route.redirected
          ? display_name(first) + " (redirecionado por " + configured + ")"
          : configured;
  std::string request = at(first_name, [&] {
    return zabbix_sender_request(zabbix_host, chave, item);
  });
  auto redirect =
      at(first_name, [&] { return exchange(first, tls, request, chave); });
  if (!redirect)
    return;

  // As zabbix_sender 7.0: the same request once more, where the answer says.
  ServerAddress target = server;
  std::string hop = first_name + " mandou voltar a " + configured;
  if (redirect->reset) {
    if (!route.redirected)
      fail_at(configured, "o proxy do grupo que monitora o host está fora do "
                          "ar (resposta \"reset\")");
  } else {
    try {
      target = parse_server_address(redirect->address);
    } catch (const std::invalid_argument &bad) {
      fail_at(first_name,
              std::string("redirecionamento recusado: ") + bad.what());
    }
    hop = first_name + " redirecionou para " + display_name(target);
  }
  auto again = at(hop, [&] { return exchange(target, tls, request, chave); });
  if (again)
    throw std::runtime_error(
        "servidor Zabbix " + hop + ", que redirecionou de novo" +
        (again->reset ? std::string() : " para \"" + again->address + "\"") +
        ": só um redirecionamento por valor é seguido");
  if (redirect->reset)
    route = {};
  else if (!route.redirected || redirect->revision >= route.revision)
    route = {target, redirect->revision};
}

void send_zabbix(const std::string &zabbix_server,
                 const std::string &zabbix_host, const std::string &chave,
                 const std::string &item, const ZabbixTls &tls) {
  ZabbixRoute alone;
  send_zabbix(zabbix_server, zabbix_host, chave, item, tls, alone);
}

} // namespace tarn
