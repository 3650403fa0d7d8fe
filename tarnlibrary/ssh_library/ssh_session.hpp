// Internals of the SSH component: owned libssh handles and non-blocking
// steps bounded by time.
#pragma once

#include <chrono>
#include <libssh/libssh.h>
#include <memory>
#include <stdexcept>
#include <string>

#include "tarnlibrary/ssh_library/shell_dialogue.hpp"
#include "tarnlibrary/ssh_library/ssh_library.hpp"

namespace tarn {

struct SessionFree {
  void operator()(ssh_session session) const { ssh_free(session); }
};
struct ChannelFree {
  void operator()(ssh_channel channel) const { ssh_channel_free(channel); }
};
using SessionHandle = std::unique_ptr<ssh_session_struct, SessionFree>;
using ChannelHandle = std::unique_ptr<ssh_channel_struct, ChannelFree>;

// Longest wait for the device at each login step (connection and key
// exchange, each authentication call, channel, terminal, shell). Per step,
// so a slow but answering device on a busy machine still gets in, while one
// that stops answering is given up on within this bound.
inline constexpr int LOGIN_STEP_LIMIT_MS = 10'000;

// Wipes the password's bytes and frees the key: once the login is over
// nothing needs them.
struct ShellSession;
void forget_password(ShellSession &state);

// Everything one connection owns. The password and the key are wiped
// however the session ends, a refused connection included.
struct ShellSession {
  ShellSession() = default;
  ~ShellSession() { forget_password(*this); }
  ShellSession(const ShellSession &) = delete;
  ShellSession &operator=(const ShellSession &) = delete;

  std::string host, port_text, user, pwd, end_data;
  std::string where; // "user@host:port" for messages
  SshOptions options;
  // Declared in this order so the channel is freed before its session.
  SessionHandle session;
  ChannelHandle channel;
  ShellDialogue dialogue; // prompt and terminal line, from read to read
};

// "user@host:port" for messages, each word cut short when very long.
std::string session_place(const std::string &user, const std::string &host,
                          const std::string &port);

// Waits until libssh's socket can make progress, at most until `until`;
// false when that moment passed. Honours the run's deadline.
bool wait_for_session(ssh_session session, Clock::time_point until);

// Runs a non-blocking libssh step until it stops answering `again`;
// raises std::runtime_error with `timeout_text` once the step has waited
// LOGIN_STEP_LIMIT_MS.
template <class Step>
int drive(ssh_session session, int again, const std::string &timeout_text,
          Step step) {
  auto until = Clock::now() + std::chrono::milliseconds(LOGIN_STEP_LIMIT_MS);
  for (;;) {
    int result = step();
    if (result != again)
      return result;
    if (!wait_for_session(session, until))
      throw std::runtime_error(timeout_text);
  }
}

// Checks the device's host key against known_hosts (the file an accepted
// new key is appended to) by the session's policy; throws when refused.
void check_host_key(ShellSession &state, const std::string &known_hosts);

// Connects, checks the host key, authenticates and opens the shell; the
// password is wiped as soon as authentication has ended, either way.
void open_shell(ShellSession &state);

} // namespace tarn
