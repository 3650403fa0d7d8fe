// The least a run's 36 deliveries cost, measured beside the collector:
//   delivery_floor FILE PORT
// one Zabbix sender request per line of FILE ("host key value", as
// zabbix_sender -i reads it), each on a TCP connection of its own to
// 127.0.0.1:PORT and read until the server closes. The requests are the
// collector's own bytes and its judgement of the answer; no SSH, no TLS, no
// iostreams: the rest is the platform's. Exit status 1 when one was not
// processed.
#include "tarnlibrary/zabbix_library/framing.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool deliver(const std::string &request, const std::string &key, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0)
    return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) ==
          0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[512];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
      answer.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  try {
    std::string_view header(answer.data(),
                            std::min(answer.size(), tarn::ZABBIX_HEADER_SIZE));
    uint32_t length = tarn::zabbix_answer_length(header);
    // A redirect is a value not processed here.
    return !tarn::zabbix_judge_answer(
        std::string_view(answer).substr(tarn::ZABBIX_HEADER_SIZE, length), key);
  } catch (const std::runtime_error &) {
    return false;
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fputs("uso: delivery_floor ARQUIVO PORTA\n", stderr);
    return 2;
  }
  FILE *file = std::fopen(argv[1], "r");
  if (!file)
    return 2;
  int port = std::atoi(argv[2]);
  char host[256], key[256], value[256];
  int failures = 0;
  while (std::fscanf(file, "%255s %255s %255s", host, key, value) == 3)
    failures +=
        !deliver(tarn::zabbix_sender_request(host, key, value), key, port);
  std::fclose(file);
  return failures ? 1 : 0;
}
