// The interactive shell session: prompt, commands, close.
#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/ssh_library/pager.hpp"
#include "tarnlibrary/ssh_library/shell_reading.hpp"
#include "tarnlibrary/ssh_library/ssh_library.hpp"
#include "tarnlibrary/ssh_library/ssh_session.hpp"
#include "tarnlibrary/ssh_library/utf8.hpp"

namespace tarn {

struct Ssh_connection_3::Session {
  ShellSession shell;
};

namespace {

// Command-line words as messages show them: a word of 100 000 bytes would
// drown the one line an operator reads.
std::string shortened(const std::string &word) {
  constexpr size_t LIMIT = 64;
  if (word.size() <= LIMIT)
    return word;
  size_t cut = LIMIT;
  while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80)
    --cut; // not inside a UTF-8 sequence
  return word.substr(0, cut) + "…";
}

} // namespace

std::string session_place(const std::string &user, const std::string &host,
                          const std::string &port) {
  return shortened(user) + "@" + shortened(host) + ":" + shortened(port);
}

namespace {

constexpr size_t READ_CHUNK = 1 << 16;

// What a wait was for, for the messages.
struct Reading {
  std::string what; // "o prompt" or "o comando \"...\""
  size_t received = 0;
  Clock::time_point silence_until =
      Clock::now() + std::chrono::milliseconds(SILENCE_LIMIT_MS);
};

void write_line(ShellSession &state, const std::string &text,
                const std::string &what) {
  std::string line = text + "\n";
  ssh_channel channel = state.channel.get();
  auto until = Clock::now() + std::chrono::milliseconds(SILENCE_LIMIT_MS);
  size_t sent = 0;
  while (sent < line.size()) {
    int done = ssh_channel_write(channel, line.data() + sent,
                                 static_cast<uint32_t>(line.size() - sent));
    if (done == SSH_ERROR)
      throw std::runtime_error("SSH " + state.where + ": falha ao enviar " +
                               what + ": " +
                               ssh_get_error(state.session.get()));
    sent += static_cast<size_t>(done);
    if (sent < line.size() && !wait_for_session(state.session.get(), until))
      throw std::runtime_error("SSH " + state.where +
                               ": o dispositivo não aceitou " + what + " em " +
                               std::to_string(SILENCE_LIMIT_MS / 1000) + " s");
  }
}

// Sets `into` to the next bytes the shell sends, waiting for them; false
// (and `into` empty) when the device stayed quiet until quiet_until. A
// device silent for the whole silence limit is an error.
bool read_some(ShellSession &state, Reading &reading, std::string &into,
               Clock::time_point quiet_until) {
  ssh_channel channel = state.channel.get();
  char chunk[READ_CHUNK];
  into.clear();
  for (;;) {
    check_deadline();
    int got = ssh_channel_read_nonblocking(channel, chunk, sizeof chunk, 0);
    if (got > 0) {
      reading.received += static_cast<size_t>(got);
      if (reading.received > OUTPUT_LIMIT)
        throw std::runtime_error("SSH " + state.where + ": a saída de " +
                                 reading.what + " passou de " +
                                 std::to_string(OUTPUT_LIMIT >> 20) +
                                 " MiB; leitura interrompida");
      into.assign(chunk, static_cast<size_t>(got));
      reading.silence_until =
          Clock::now() + std::chrono::milliseconds(SILENCE_LIMIT_MS);
      return true;
    }
    if (got == SSH_ERROR)
      throw std::runtime_error("SSH " + state.where + ": falha ao ler " +
                               reading.what + ": " +
                               ssh_get_error(state.session.get()));
    if (got == SSH_EOF || ssh_channel_is_eof(channel) ||
        ssh_channel_is_closed(channel))
      throw std::runtime_error("SSH " + state.where +
                               ": o dispositivo encerrou a conexão durante " +
                               reading.what);
    if (Clock::now() >= quiet_until)
      return false;
    if (!wait_for_session(state.session.get(),
                          std::min(quiet_until, reading.silence_until)) &&
        Clock::now() >= reading.silence_until)
      throw std::runtime_error("SSH " + state.where + ": o dispositivo ficou " +
                               std::to_string(SILENCE_LIMIT_MS / 1000) +
                               " s sem enviar nada durante " + reading.what);
  }
}

void find_prompt(ShellSession &state) {
  PromptFinder finder;
  finder.stream.end_data = state.end_data;
  Reading reading{"a espera do prompt terminado em \"" + state.end_data + "\""};
  std::string more;
  // How long the device may stay quiet before an Enter is sent: short at
  // first (a device that waits for one), longer after each one sent.
  auto quiet = std::chrono::milliseconds(QUIET_MS);
  ShellStep step = ShellStep::Read;
  for (;;) {
    if (step == ShellStep::SendEnter) {
      write_line(state, "", "a confirmação do prompt");
      step = advance(finder);
      continue;
    }
    if (step == ShellStep::Done)
      break;
    if (read_some(state, reading, more, Clock::now() + quiet)) {
      step = feed(finder, more);
    } else {
      step = on_quiet(finder);
      if (step == ShellStep::SendEnter)
        quiet *= 2;
    }
  }
  state.prompt = finder.prompt;
  state.echoes = finder.echoes;
  state.stream = std::move(finder.stream);
}

} // namespace

Ssh_connection_3::Ssh_connection_3(std::string host, std::string port,
                                   std::string user, std::string pwd,
                                   std::string end_data)
    : session_(std::make_unique<Session>()) {
  ShellSession &state = session_->shell;
  state.host = std::move(host);
  state.port_text = std::move(port);
  state.user = std::move(user);
  state.pwd = std::move(pwd);
  state.end_data = std::move(end_data);
  state.where = session_place(state.user, state.host, state.port_text);
}

Ssh_connection_3::~Ssh_connection_3() = default;

void Ssh_connection_3::connect() {
  ShellSession &state = session_->shell;
  open_shell(state);
  find_prompt(state);
}

std::string Ssh_connection_3::execute_command(const std::string &command) {
  ShellSession &state = session_->shell;
  if (!state.channel || state.prompt.empty())
    throw std::logic_error("SSH " + state.where + ": comando \"" + command +
                           "\" enviado sem conexão aberta");
  std::string what = "o comando \"" + command + "\"";
  // The extra Enter makes the device show its prompt once more after the
  // output: two prompts in a row end the output whatever the prompt is.
  write_line(state, command + "\n", what);
  CommandRead read;
  read.stream = std::move(state.stream);
  read.expect_echo = state.echoes;
  begin_command(read, command);
  Reading reading{what};
  std::string more;
  ShellStep step = feed(read, ""); // bytes left from the last read first
  auto quiet = std::chrono::milliseconds(QUIET_MS);
  while (step == ShellStep::Read) {
    // Nothing more right now: a pager stop shows at once; a missing echo
    // only after a longer quiet.
    if (read_some(state, reading, more, Clock::now())) {
      step = feed(read, more);
    } else if ((step = on_quiet(read, false)) == ShellStep::Read) {
      if (read_some(state, reading, more, Clock::now() + quiet))
        step = feed(read, more);
      else
        step = on_quiet(read, true);
    }
  }
  if (step == ShellStep::PagerStop)
    throw std::runtime_error(
        "SSH " + state.where + ": " + what + " parou em uma paginação (\"" +
        read.pager_stop +
        "\") à espera de uma tecla: a paginação do dispositivo não foi "
        "desligada; saída incompleta descartada");
  std::string output = take_command_output(read);
  state.stream = std::move(read.stream);
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
    ssh_channel_write(channel, exit_line, sizeof exit_line - 1);
    ssh_channel_send_eof(channel);
  }
  ssh_channel_close(channel);
  state.channel.reset();
  ssh_disconnect(state.session.get());
  state.session.reset();
  state.prompt.clear();
}

} // namespace tarn
