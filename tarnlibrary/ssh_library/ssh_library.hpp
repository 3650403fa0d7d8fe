// SSH component: one interactive shell session on a network device.
#pragma once

#include <memory>
#include <string>

namespace tarn {

class Ssh_connection_3 {
public:
  // port is the command-line text; it is checked by connect().
  Ssh_connection_3(std::string host, std::string port, std::string user,
                   std::string pwd, std::string end_data = "$");
  ~Ssh_connection_3();
  Ssh_connection_3(const Ssh_connection_3 &) = delete;
  Ssh_connection_3 &operator=(const Ssh_connection_3 &) = delete;

  // Connects, checks the host key, authenticates and waits for the prompt.
  void connect();
  // Runs one command; returns its output without echo or prompt, as UTF-8.
  std::string execute_command(const std::string &command);
  // Leaves the shell and disconnects.
  void close();

private:
  struct Session;
  std::unique_ptr<Session> session_;
};

} // namespace tarn
