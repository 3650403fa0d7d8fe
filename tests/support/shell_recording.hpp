// A shell's byte streams recorded through the session's own loop, and
// played back to it with a simulated clock: the same decisions must follow
// however the bytes are split.
#pragma once

#include "tarnlibrary/ssh_library/shell_dialogue.hpp"

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// What crossed the wire, in order. Quiet: a read that found nothing by the
// time it was given.
struct WireEvent {
  enum class Kind { Data, Quiet, Typed };
  Kind kind;
  std::string bytes;
  tarn::Clock::duration at; // since the recording began
};
using Recording = std::vector<WireEvent>;

// The received bytes of a recording, and the typed ones.
std::string received(const Recording &recording);
std::string typed(const Recording &recording);

// A live wire over a device's file descriptors that records everything.
tarn::ShellWire recording_wire(int from, int to, Recording &recording);

// Plays `recording` back with every received byte cut at `cuts` (sorted
// offsets into received()); the clock jumps over each quiet period. What
// the loop types goes to `typed_out`. Past the end it stays quiet.
tarn::ShellWire replay_wire(const Recording &recording,
                            const std::vector<size_t> &cuts,
                            std::string &typed_out);

// A program on a pseudo-terminal of 511 columns, as sshd gives one, with
// TERM=vt100 and the given environment.
struct PtyDevice {
  pid_t pid = -1;
  int fd = -1;
  PtyDevice(const std::vector<std::string> &argv,
            const std::vector<std::string> &env);
  ~PtyDevice();
  PtyDevice(const PtyDevice &) = delete;
  PtyDevice &operator=(const PtyDevice &) = delete;
};

} // namespace testing_support
