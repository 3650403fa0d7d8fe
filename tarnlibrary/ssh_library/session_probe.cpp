// ssh_session_probe HOST PORT USER [--print]: one device session as the
// collector runs it. The password is read from DEVICE_PASSWORD so it never
// shows in the process list.
#include "tarnlibrary/ssh_library/ssh_library.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "uso: %s HOST PORTA USUARIO [--print] "
                 "(senha em DEVICE_PASSWORD)\n",
                 argv[0]);
    return 2;
  }
  const char *password = std::getenv("DEVICE_PASSWORD");
  bool print = argc > 4 && std::string(argv[4]) == "--print";
  try {
    tarn::Ssh_connection_3 session(argv[1], argv[2], argv[3],
                                   password ? password : "", "$");
    session.connect();
    session.execute_command("set cli screen-length 0");
    std::string summary = session.execute_command("show cgnat summary");
    std::string errors = session.execute_command("show cgnat errors");
    session.close();
    if (print)
      std::printf("%s%s", summary.c_str(), errors.c_str());
  } catch (const std::exception &error) {
    std::fprintf(stderr, "Erro: %s\n", error.what());
    return 1;
  }
  return 0;
}
