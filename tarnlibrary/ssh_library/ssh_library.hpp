// SSH component: one interactive shell session on a network device.
#pragma once

#include <memory>
#include <string>

namespace tarn {

class ShellTranscript;
class PrivateKey;

// What an unknown host key meets; a changed one is always refused.
enum class HostKeyPolicy {
  Accept,    // logged in to, not recorded
  AcceptNew, // logged in to and appended to the known_hosts file
  Strict,    // refused
};

// Choices beyond the login words; the defaults are the plain run.
struct SshOptions {
  // Empty: ~/.ssh/known_hosts and /etc/ssh/ssh_known_hosts.
  std::string known_hosts;
  HostKeyPolicy host_key_policy = HostKeyPolicy::Accept;
  // Records the shell's bytes when set.
  std::shared_ptr<ShellTranscript> transcript;
  // Offered before the password when set; forgotten once authentication
  // has ended.
  std::shared_ptr<PrivateKey> key;
};

// Checks a known_hosts file for the policy (readable; writable, or its
// folder, for accept-new); throws std::runtime_error saying what is wrong.
void check_known_hosts_file(const std::string &file, HostKeyPolicy policy);

class Ssh_connection_3 {
public:
  // port is the command-line text; it is checked by connect().
  Ssh_connection_3(std::string host, std::string port, std::string user,
                   std::string pwd, std::string end_data = "$",
                   SshOptions options = {});
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
