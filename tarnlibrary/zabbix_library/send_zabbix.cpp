#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/zabbix_library/framing.hpp"
#include "tarnlibrary/zabbix_library/tcp_socket.hpp"
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"

#include <stdexcept>

namespace tarn {
namespace {

std::string display_name(const ServerAddress &server) {
  bool ipv6 = server.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + server.host + "]" : server.host) + ":" + server.port;
}

void exchange(const ServerAddress &server, const std::string &request,
              const std::string &chave) {
  SteadyTime until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(ZABBIX_EXCHANGE_LIMIT_MS);
  TcpSocket socket = tcp_connect(server, until);
  tcp_send_all(socket, request, until);
  std::string header = tcp_receive(socket, ZABBIX_HEADER_SIZE, until);
  if (header.empty())
    throw std::runtime_error("a conexão foi fechada sem resposta");
  uint32_t length = zabbix_answer_length(header);
  std::string body = tcp_receive(socket, length, until);
  if (body.size() < length)
    throw std::runtime_error("resposta truncada: a conexão foi fechada após " +
                             std::to_string(body.size()) + " de " +
                             std::to_string(length) + " bytes anunciados");
  zabbix_judge_answer(body, chave);
}

} // namespace

void send_zabbix(const std::string &zabbix_server,
                 const std::string &zabbix_host, const std::string &chave,
                 const std::string &item) {
  check_deadline();
  ServerAddress server = parse_server_address(zabbix_server);
  try {
    exchange(server, zabbix_sender_request(zabbix_host, chave, item), chave);
  } catch (const TimeoutException &) {
    throw;
  } catch (const std::exception &failure) {
    throw std::runtime_error("servidor Zabbix " + display_name(server) + ": " +
                             failure.what());
  }
}

} // namespace tarn
