#include "tarnlibrary/ssh_library/shell_dialogue.hpp"

#include "tarnlibrary/ssh_library/shell_transcript.hpp"
#include "tarnlibrary/ssh_library/utf8.hpp"

#include <stdexcept>

namespace tarn {
namespace {

constexpr auto QUIET = std::chrono::milliseconds(QUIET_MS);
constexpr auto SILENCE = std::chrono::milliseconds(SILENCE_LIMIT_MS);

// One wait for the device: its bytes so far and its silence.
struct Waiting {
  ShellWire &wire;
  const ShellDialogue &dialogue;
  std::string what; // "a espera do prompt ..." or "o comando \"...\""
  size_t received = 0;
  Clock::time_point silence_until = wire.now() + SILENCE;

  // Sets `into` to the next bytes, waiting for them until `until`; false
  // when the device stayed quiet that long.
  bool more(std::string &into, Clock::time_point until) {
    into.clear();
    if (wire.read(into, std::min(until, silence_until), what)) {
      received += into.size();
      if (received > OUTPUT_LIMIT)
        throw std::runtime_error(
            "SSH " + dialogue.where + ": a saída de " + what + " passou de " +
            std::to_string(OUTPUT_LIMIT >> 20) + " MiB; leitura interrompida");
      silence_until = wire.now() + SILENCE;
      return true;
    }
    if (wire.now() >= silence_until)
      throw std::runtime_error("SSH " + dialogue.where + ": o dispositivo " +
                               "ficou " +
                               std::to_string(SILENCE_LIMIT_MS / 1000) +
                               " s sem enviar nada durante " + what);
    return false;
  }
};

// A device's line in a message: quoted and escaped as in transcripts, cut
// short when very long.
std::string shown_line(std::string_view line) {
  return quoted_bytes(cut_short(line, 80));
}

} // namespace

void find_prompt(ShellWire &wire, ShellDialogue &dialogue) {
  PromptFinder finder;
  finder.stream.end_data = dialogue.end_data;
  Waiting waiting{wire, dialogue,
                  "a espera do prompt terminado em \"" + dialogue.end_data +
                      "\""};
  const std::string enter_what = "a confirmação do prompt";
  std::string more;
  // How long the device may stay quiet before an Enter is sent: longer
  // after each one it did not answer at all.
  auto quiet = QUIET;
  size_t bytes_at_enter = 0;
  ShellStep step = ShellStep::Read;
  while (step != ShellStep::Done) {
    if (waiting.more(more, wire.now())) {
      step = feed(finder, more);
      continue;
    }
    if ((step = on_pause(finder)) == ShellStep::SendEnter) {
      wire.write("\n", enter_what);
      continue;
    }
    if (waiting.more(more, wire.now() + quiet)) {
      step = feed(finder, more);
      continue;
    }
    step = on_quiet(finder);
    if (step == ShellStep::WrongPrompt)
      throw std::runtime_error(
          "SSH " + dialogue.where + ": o prompt do dispositivo (" +
          shown_line(finder.wrong_prompt) + ") não termina em \"" +
          dialogue.end_data +
          "\": a última linha volta igual a cada Enter; confira se o "
          "endereço é de um CGNAT Linux");
    if (step == ShellStep::SendEnter) {
      if (finder.stream.bytes.size() == bytes_at_enter)
        quiet *= 2;
      else
        quiet = QUIET;
      bytes_at_enter = finder.stream.bytes.size();
      wire.write("\n", enter_what);
    }
  }
  dialogue.prompt = finder.prompt;
  dialogue.echoes = finder.echoes;
  dialogue.settle = finder.settle;
  dialogue.stream = std::move(finder.stream);
}

std::string run_command(ShellWire &wire, ShellDialogue &dialogue,
                        const std::string &command) {
  std::string what = "o comando \"" + command + "\"";
  wire.write(command + "\n", what);
  CommandRead read;
  read.stream = std::move(dialogue.stream);
  read.expect_echo = dialogue.echoes;
  read.prompt = dialogue.prompt;
  read.settle = dialogue.settle;
  begin_command(read, command);
  Waiting waiting{wire, dialogue, what};
  std::string more;
  ShellStep step = feed(read, ""); // bytes left from the last read first
  while (step == ShellStep::Read || step == ShellStep::SendEnter) {
    if (step == ShellStep::SendEnter)
      wire.write("\n", what);
    if (waiting.more(more, wire.now()))
      step = feed(read, more);
    else if ((step = on_pause(read, false)) == ShellStep::Read) {
      // Nothing more right now: a missing echo shows only after a while.
      auto quiet =
          dialogue.settle ? std::chrono::milliseconds(SETTLE_MS) : QUIET;
      if (waiting.more(more, wire.now() + quiet))
        step = feed(read, more);
      else
        step = on_pause(read, true);
    }
  }
  if (step == ShellStep::PagerStop)
    throw std::runtime_error(
        "SSH " + dialogue.where + ": " + what + " parou em uma paginação (\"" +
        read.pager_stop +
        "\") à espera de uma tecla: a paginação do dispositivo não foi "
        "desligada; saída incompleta descartada");
  if (step == ShellStep::OutOfStep)
    throw std::runtime_error(
        "SSH " + dialogue.where +
        ": o prompt do dispositivo apareceu no meio "
        "da saída de " +
        what +
        ": o dispositivo respondeu fora de ordem "
        "(desenha o prompt mais de uma vez por resposta?); saída descartada");
  std::string output = take_command_output(read);
  dialogue.stream = std::move(read.stream);
  return output;
}

} // namespace tarn
