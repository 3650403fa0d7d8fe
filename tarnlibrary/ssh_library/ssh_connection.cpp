// The interactive shell session: prompt, commands, close.
#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/ssh_library/pager.hpp"
#include "tarnlibrary/ssh_library/shell_reading.hpp"
#include "tarnlibrary/ssh_library/shell_transcript.hpp"
#include "tarnlibrary/ssh_library/ssh_library.hpp"
#include "tarnlibrary/ssh_library/ssh_session.hpp"
#include "tarnlibrary/ssh_library/utf8.hpp"

namespace tarn {

struct Ssh_connection_3::Session {
  ShellSession shell;
};

std::string session_place(const std::string &user, const std::string &host,
                          const std::string &port) {
  // A word of 100 000 bytes would drown the one line an operator reads.
  constexpr size_t LIMIT = 64;
  return cut_short(user, LIMIT) + "@" + cut_short(host, LIMIT) + ":" +
         cut_short(port, LIMIT);
}

namespace {

constexpr size_t READ_CHUNK = 1 << 16;

// The shell channel as the dialogue sees it.
ShellWire bare_channel_wire(ShellSession &state) {
  ShellWire wire;
  wire.now = [] { return Clock::now(); };
  wire.read = [&state](std::string &into, Clock::time_point until,
                       const std::string &what) {
    ssh_channel channel = state.channel.get();
    char chunk[READ_CHUNK];
    for (;;) {
      check_deadline();
      int got = ssh_channel_read_nonblocking(channel, chunk, sizeof chunk, 0);
      if (got > 0) {
        into.append(chunk, static_cast<size_t>(got));
        return true;
      }
      if (got == SSH_ERROR)
        throw std::runtime_error("SSH " + state.where + ": falha ao ler " +
                                 what + ": " +
                                 ssh_get_error(state.session.get()));
      if (got == SSH_EOF || ssh_channel_is_eof(channel) ||
          ssh_channel_is_closed(channel))
        throw std::runtime_error("SSH " + state.where +
                                 ": o dispositivo encerrou a conexão durante " +
                                 what);
      if (!wait_for_session(state.session.get(), until))
        return false;
    }
  };
  wire.write = [&state](std::string_view bytes, const std::string &what) {
    ssh_channel channel = state.channel.get();
    auto until = Clock::now() + std::chrono::milliseconds(SILENCE_LIMIT_MS);
    while (!bytes.empty()) {
      int done = ssh_channel_write(channel, bytes.data(),
                                   static_cast<uint32_t>(bytes.size()));
      if (done == SSH_ERROR)
        throw std::runtime_error("SSH " + state.where + ": falha ao enviar " +
                                 what + ": " +
                                 ssh_get_error(state.session.get()));
      bytes.remove_prefix(static_cast<size_t>(done));
      if (!bytes.empty() && !wait_for_session(state.session.get(), until))
        throw std::runtime_error(
            "SSH " + state.where + ": o dispositivo não aceitou " + what +
            " em " + std::to_string(SILENCE_LIMIT_MS / 1000) + " s");
    }
  };
  return wire;
}

// The same, through the run's transcript when there is one.
ShellWire channel_wire(ShellSession &state) {
  ShellWire wire = bare_channel_wire(state);
  if (!state.options.transcript)
    return wire;
  return recorded(std::move(wire), *state.options.transcript);
}

// A failure ends the transcript with its reason.
void note_failure(ShellSession &state, const std::exception &error) {
  if (state.options.transcript)
    state.options.transcript->note(error.what(), Clock::now());
}

// Runs one step of the dialogue, noting its failure.
template <class Step> auto noted(ShellSession &state, Step step) {
  try {
    return step();
  } catch (const std::exception &error) {
    note_failure(state, error);
    throw;
  }
}

} // namespace

Ssh_connection_3::Ssh_connection_3(std::string host, std::string port,
                                   std::string user, std::string pwd,
                                   std::string end_data, SshOptions options)
    : session_(std::make_unique<Session>()) {
  ShellSession &state = session_->shell;
  state.host = std::move(host);
  state.port_text = std::move(port);
  state.user = std::move(user);
  state.pwd = std::move(pwd);
  state.end_data = std::move(end_data);
  state.options = std::move(options);
  state.where = session_place(state.user, state.host, state.port_text);
}

Ssh_connection_3::~Ssh_connection_3() = default;

void Ssh_connection_3::connect() {
  ShellSession &state = session_->shell;
  // A login that fails leaves its reason as the transcript's one line.
  auto start_transcript = [&] {
    if (state.options.transcript)
      state.options.transcript->start(state.where, Clock::now());
  };
  try {
    open_shell(state);
  } catch (const std::exception &error) {
    start_transcript();
    note_failure(state, error);
    throw;
  }
  start_transcript();
  state.dialogue.end_data = state.end_data;
  state.dialogue.where = state.where;
  ShellWire wire = channel_wire(state);
  noted(state, [&] { find_prompt(wire, state.dialogue); });
}

std::string Ssh_connection_3::execute_command(const std::string &command) {
  ShellSession &state = session_->shell;
  if (!state.channel || state.dialogue.prompt.empty())
    throw std::logic_error("SSH " + state.where + ": comando \"" + command +
                           "\" enviado sem conexão aberta");
  ShellWire wire = channel_wire(state);
  std::string output =
      noted(state, [&] { return run_command(wire, state.dialogue, command); });
  repair_utf8(output);
  return output;
}

void Ssh_connection_3::close() {
  ShellSession &state = session_->shell;
  if (!state.channel)
    return;
  // Best effort: the outputs are already in hand, and a device that hung up
  // first has left the shell anyway.
  ssh_channel channel = state.channel.get();
  if (ssh_channel_is_open(channel) && !ssh_channel_is_eof(channel)) {
    static const char exit_line[] = "exit\n";
    if (state.options.transcript)
      state.options.transcript->record('>', exit_line, Clock::now());
    ssh_channel_write(channel, exit_line, sizeof exit_line - 1);
    ssh_channel_send_eof(channel);
  }
  ssh_channel_close(channel);
  state.channel.reset();
  ssh_disconnect(state.session.get());
  state.session.reset();
  state.dialogue.prompt.clear();
}

} // namespace tarn
