// What the machine charges before the collector does anything of its own,
// measured beside it in the same way:
//   cpu_floor                   does nothing (start-up and exit alone);
//   cpu_floor deliver FILE PORT one Zabbix sender request per line of FILE
//                               ("host key value", as zabbix_sender -i reads
//                               it), each on a TCP connection of its own to
//                               127.0.0.1:PORT and read until the server
//                               closes: what a run's 36 deliveries cost at
//                               the least. Exit status 1 when one was not
//                               processed.
// No iostreams, no libraries: the figure is the platform's.
#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool deliver(const std::string &json, int port) {
  std::string request = "ZBXD\x01";
  uint64_t length = json.size(); // the protocol's little-endian, as here
  request.append(reinterpret_cast<const char *>(&length), sizeof length);
  request += json;
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
  return answer.find("processed: 1;") != std::string::npos;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 1)
    return 0;
  if (argc != 4 || std::strcmp(argv[1], "deliver") != 0) {
    std::fputs("uso: cpu_floor [deliver ARQUIVO PORTA]\n", stderr);
    return 2;
  }
  FILE *file = std::fopen(argv[2], "r");
  if (!file)
    return 2;
  int port = std::atoi(argv[3]);
  char host[256], key[256], value[256];
  int failures = 0;
  // The file's values are digits and names: nothing to escape in JSON.
  while (std::fscanf(file, "%255s %255s %255s", host, key, value) == 3)
    failures += !deliver(std::string(R"({"request":"sender data","data":[)") +
                             R"({"host":")" + host + R"(","key":")" + key +
                             R"(","value":")" + value + R"("}]})",
                         port);
  std::fclose(file);
  return failures ? 1 : 0;
}
