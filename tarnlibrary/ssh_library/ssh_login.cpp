// From nothing to an open shell channel: connection, host key, key or password.
#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/ssh_library/private_key.hpp"
#include "tarnlibrary/ssh_library/ssh_port.hpp"
#include "tarnlibrary/ssh_library/ssh_session.hpp"

#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

namespace tarn {
namespace {

constexpr int KBDINT_ROUNDS = 8;
constexpr long CLOSE_FLUSH_SECONDS = 5;

std::string user_known_hosts() {
  const char *home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd *entry = getpwuid(getuid());
    home = entry != nullptr ? entry->pw_dir : "/";
  }
  return std::string(home) + "/.ssh/known_hosts";
}

void set_options(ShellSession &state, int port, std::string &known) {
  ssh_session session = state.session.get();
  int verbosity = SSH_LOG_NOLOG, yes = 1;
  bool no = false;
  long flush_seconds = CLOSE_FLUSH_SECONDS;
  const std::string &chosen = state.options.known_hosts;
  known = chosen.empty() ? user_known_hosts() : chosen;
  // A file of the run's own replaces both default files.
  std::string global = chosen.empty() ? "/etc/ssh/ssh_known_hosts" : chosen;
  struct Option {
    ssh_options_e option;
    const void *value;
    const char *what; // for the message when libssh refuses it
  };
  const Option options[] = {
      {SSH_OPTIONS_LOG_VERBOSITY, &verbosity, "o nível de log"},
      {SSH_OPTIONS_PROCESS_CONFIG, &no, "a configuração do cliente"},
      {SSH_OPTIONS_HOST, state.host.c_str(), "o endereço do equipamento"},
      {SSH_OPTIONS_PORT, &port, "a porta"},
      {SSH_OPTIONS_USER, state.user.c_str(), "o usuário"},
      {SSH_OPTIONS_KNOWNHOSTS, known.c_str(), "o arquivo known_hosts"},
      {SSH_OPTIONS_GLOBAL_KNOWNHOSTS, global.c_str(),
       "o known_hosts do sistema"},
      {SSH_OPTIONS_NODELAY, &yes, "TCP_NODELAY"},
      {SSH_OPTIONS_TIMEOUT, &flush_seconds, "o tempo limite"},
  };
  for (const Option &option : options) {
    if (ssh_options_set(session, option.option, option.value) == 0)
      continue;
    // libssh often gives no reason (an over-long or malformed host, say).
    std::string reason = ssh_get_error(session);
    throw std::runtime_error("SSH " + state.where + ": " + option.what +
                             " foi recusado pela biblioteca SSH (inválido?)" +
                             (reason.empty() ? "" : ": " + reason));
  }
}

int keyboard_interactive(ShellSession &state, const std::string &late) {
  ssh_session session = state.session.get();
  for (int round = 0; round < KBDINT_ROUNDS; ++round) {
    int result = drive(session, SSH_AUTH_AGAIN, late, [&] {
      return ssh_userauth_kbdint(session, nullptr, nullptr);
    });
    if (result != SSH_AUTH_INFO)
      return result;
    // Network devices ask for the password here, sometimes in several
    // rounds; every prompt gets it.
    int prompts = ssh_userauth_kbdint_getnprompts(session);
    for (int i = 0; i < prompts; ++i)
      ssh_userauth_kbdint_setanswer(session, static_cast<unsigned>(i),
                                    state.pwd.c_str());
  }
  return SSH_AUTH_DENIED;
}

// A key is offered when the run has one and the device takes keys.
bool offers_key(const ShellSession &state, int methods) {
  return state.options.key && state.options.key->get() != nullptr &&
         (methods & SSH_AUTH_METHOD_PUBLICKEY);
}

void authenticate(ShellSession &state, const std::string &late) {
  ssh_session session = state.session.get();
  int result = drive(session, SSH_AUTH_AGAIN, late,
                     [&] { return ssh_userauth_none(session, nullptr); });
  if (result == SSH_AUTH_SUCCESS)
    return;
  int methods = ssh_userauth_list(session, nullptr);
  std::string key_refused;
  if (offers_key(state, methods)) {
    result = drive(session, SSH_AUTH_AGAIN, late, [&] {
      return ssh_userauth_publickey(session, nullptr, state.options.key->get());
    });
    if (result == SSH_AUTH_SUCCESS)
      return;
    if (result == SSH_AUTH_ERROR)
      throw std::runtime_error("SSH " + state.where +
                               ": falha durante a autenticação por chave: " +
                               ssh_get_error(session));
    key_refused = " (a chave " + state.options.key->type() + " de \"" +
                  state.options.key->file() + "\" também foi recusada)";
    methods = ssh_userauth_list(session, nullptr);
  }
  if (methods & SSH_AUTH_METHOD_PASSWORD)
    result = drive(session, SSH_AUTH_AGAIN, late, [&] {
      return ssh_userauth_password(session, nullptr, state.pwd.c_str());
    });
  else if (methods & SSH_AUTH_METHOD_INTERACTIVE)
    result = keyboard_interactive(state, late);
  else
    throw std::runtime_error("SSH " + state.where +
                             ": o servidor não aceita senha (nem password nem "
                             "keyboard-interactive) para o usuário \"" +
                             state.user + "\"" + key_refused);
  if (result == SSH_AUTH_SUCCESS)
    return;
  if (result == SSH_AUTH_ERROR)
    throw std::runtime_error(
        "SSH " + state.where +
        ": falha durante a autenticação: " + ssh_get_error(session));
  throw std::runtime_error(
      "SSH " + state.where + ": autenticação recusada para o usuário \"" +
      state.user + "\"; confira o usuário e a senha" + key_refused);
}

void start_shell(ShellSession &state, const std::string &late) {
  ssh_session session = state.session.get();
  state.channel.reset(ssh_channel_new(session));
  if (!state.channel)
    throw std::runtime_error("SSH " + state.where +
                             ": não foi possível criar o canal");
  ssh_channel channel = state.channel.get();
  auto refuse = [&](const std::string &what) {
    return std::runtime_error("SSH " + state.where + ": " + what + ": " +
                              ssh_get_error(session));
  };
  if (drive(session, SSH_AGAIN, late,
            [&] { return ssh_channel_open_session(channel); }) != SSH_OK)
    throw refuse("o servidor recusou abrir um canal de sessão");
  // Wide enough that no device line wraps.
  if (drive(session, SSH_AGAIN, late, [&] {
        return ssh_channel_request_pty_size(channel, "vt100", 511, 24);
      }) != SSH_OK)
    throw refuse("o servidor recusou o terminal (PTY)");
  if (drive(session, SSH_AGAIN, late,
            [&] { return ssh_channel_request_shell(channel); }) != SSH_OK)
    throw refuse("o servidor recusou abrir o shell");
}

} // namespace

void forget_password(ShellSession &state) {
  explicit_bzero(state.pwd.data(), state.pwd.capacity());
  state.pwd.clear();
  if (state.options.key)
    state.options.key->forget();
}

bool wait_for_session(ssh_session session, Clock::time_point until) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now())
                  .count();
  if (left <= 0)
    return false;
  short events = POLLIN;
  if (ssh_get_poll_flags(session) & SSH_WRITE_PENDING)
    events |= POLLOUT;
  int fd = ssh_get_fd(session);
  // Acknowledge what arrives at once. A device's sshd sends with Nagle on
  // until the terminal is open, so it holds a packet's tail until our ACK,
  // which Linux would otherwise delay by up to 40 ms at each such step.
  // The kernel drops this mode by itself, hence before every wait.
  int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &yes, sizeof yes);
  wait_for_fd(fd, events, static_cast<int>(left));
  return true;
}

namespace {

void log_in(ShellSession &state) {
  int port = parse_port(state.port_text, state.host);
  state.where = session_place(state.user, state.host, std::to_string(port));
  state.session.reset(ssh_new());
  if (!state.session)
    throw std::runtime_error("SSH " + state.where +
                             ": não foi possível criar a sessão");
  std::string known_hosts;
  set_options(state, port, known_hosts);
  ssh_session session = state.session.get();
  ssh_set_blocking(session, 0);
  std::string late = "SSH " + state.where + ": tempo esgotado (" +
                     std::to_string(LOGIN_STEP_LIMIT_MS / 1000) +
                     " s) ao conectar e autenticar";
  if (drive(session, SSH_AGAIN, late, [&] { return ssh_connect(session); }) !=
      SSH_OK)
    throw std::runtime_error(
        "SSH " + state.where +
        ": não foi possível conectar: " + ssh_get_error(session));
  check_host_key(state, known_hosts);
  authenticate(state, late);
  forget_password(state);
  start_shell(state, late);
}

} // namespace

void open_shell(ShellSession &state) {
  try {
    log_in(state);
  } catch (...) {
    forget_password(state); // a bad port or a refused host key too
    throw;
  }
}

} // namespace tarn
