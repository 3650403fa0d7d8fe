// Arbitrary shell bytes, in arbitrary pieces and quiet periods, through the
// session loop: finding the prompt and reading the three commands must end
// (in a result or an error) without a crash, a hang or a read out of
// bounds, and an output is always bytes the device sent, in order.
//
// Input: a run of chunks. A chunk starts with a byte n: 0xFF is a quiet
// period; otherwise the next n % 64 + 1 bytes arrive together.
#include "tests/support/shell_recording.hpp"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

void require(bool condition) {
  if (!condition)
    std::abort();
}

testing_support::Recording chunks(const uint8_t *data, size_t size) {
  using testing_support::WireEvent;
  testing_support::Recording recording;
  auto at = tarn::Clock::duration::zero();
  for (size_t next = 0; next < size;) {
    uint8_t head = data[next++];
    at += std::chrono::milliseconds(head % 7);
    if (head == 0xFF) {
      recording.push_back({WireEvent::Kind::Quiet, "", at});
      continue;
    }
    size_t length = std::min<size_t>(head % 64 + 1, size - next);
    recording.push_back(
        {WireEvent::Kind::Data,
         std::string(reinterpret_cast<const char *>(data + next), length), at});
    next += length;
  }
  return recording;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  testing_support::Recording recording = chunks(data, size);
  const std::string sent = testing_support::received(recording);
  std::string typed;
  tarn::ShellWire wire = testing_support::replay_wire(recording, {}, typed);
  tarn::ShellDialogue dialogue;
  dialogue.end_data = "$";
  dialogue.where = "fuzz";
  size_t from = 0;
  try {
    tarn::find_prompt(wire, dialogue);
    require(!dialogue.prompt.empty());
    for (const char *command : {"set cli screen-length 0", "show cgnat summary",
                                "show cgnat errors"}) {
      std::string output = tarn::run_command(wire, dialogue, command);
      size_t found = sent.find(output, from);
      require(found != std::string::npos);
      from = found + output.size();
    }
  } catch (const std::runtime_error &) {
    // the device's bytes made no session: an error, as for a real device
  }
  // Login Enters are bounded, and one command line and one Enter each.
  require(typed.size() <= 8 + 64);
  return 0;
}
