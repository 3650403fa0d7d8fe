#include "tests/support/shell_recording.hpp"

#include <cerrno>
#include <csignal>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace testing_support {

using tarn::Clock;

std::string received(const Recording &recording) {
  std::string bytes;
  for (const WireEvent &event : recording)
    if (event.kind == WireEvent::Kind::Data)
      bytes += event.bytes;
  return bytes;
}

std::string typed(const Recording &recording) {
  std::string bytes;
  for (const WireEvent &event : recording)
    if (event.kind == WireEvent::Kind::Typed)
      bytes += event.bytes;
  return bytes;
}

tarn::ShellWire recording_wire(int from, int to, Recording &recording) {
  auto start = Clock::now();
  tarn::ShellWire wire;
  wire.now = [] { return Clock::now(); };
  wire.read = [from, start, &recording](std::string &into,
                                        Clock::time_point until,
                                        const std::string &) {
    for (;;) {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
      pollfd entry{from, POLLIN, 0};
      int ready = poll(
          &entry, 1,
          static_cast<int>(std::max<long>(0, static_cast<long>(left.count()))));
      if (ready < 0 && errno == EINTR)
        continue;
      if (ready <= 0) {
        recording.push_back({WireEvent::Kind::Quiet, "", Clock::now() - start});
        return false;
      }
      char chunk[1 << 16];
      ssize_t got = ::read(from, chunk, sizeof chunk);
      if (got <= 0) // EOF on a pipe, EIO on a pseudo-terminal
        throw std::runtime_error("the device ended");
      std::string bytes(chunk, static_cast<size_t>(got));
      recording.push_back({WireEvent::Kind::Data, bytes, Clock::now() - start});
      into += bytes;
      return true;
    }
  };
  wire.write = [to, start, &recording](std::string_view bytes,
                                       const std::string &) {
    recording.push_back(
        {WireEvent::Kind::Typed, std::string(bytes), Clock::now() - start});
    if (::write(to, bytes.data(), bytes.size()) !=
        static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("write to the device failed");
  };
  return wire;
}

tarn::ShellWire replay_wire(const Recording &recording,
                            const std::vector<size_t> &cuts,
                            std::string &typed_out) {
  // The received bytes in pieces, each keeping its chunk's moment.
  auto events = std::make_shared<Recording>();
  size_t offset = 0, cut = 0;
  for (const WireEvent &event : recording) {
    if (event.kind == WireEvent::Kind::Typed)
      continue;
    if (event.kind == WireEvent::Kind::Quiet) {
      events->push_back(event);
      continue;
    }
    size_t end = offset + event.bytes.size(), from = offset;
    while (cut < cuts.size() && cuts[cut] <= from)
      ++cut;
    for (; cut < cuts.size() && cuts[cut] < end; ++cut) {
      events->push_back({WireEvent::Kind::Data,
                         event.bytes.substr(from - offset, cuts[cut] - from),
                         event.at});
      from = cuts[cut];
    }
    events->push_back(
        {WireEvent::Kind::Data, event.bytes.substr(from - offset), event.at});
    offset = end;
  }
  auto next = std::make_shared<size_t>(0);
  auto clock = std::make_shared<Clock::time_point>();
  tarn::ShellWire wire;
  wire.now = [clock] { return *clock; };
  wire.read = [events, next, clock](std::string &into, Clock::time_point until,
                                    const std::string &) {
    if (*next >= events->size()) {
      *clock = std::max(*clock, until);
      return false;
    }
    const WireEvent &event = (*events)[(*next)++];
    *clock = std::max(*clock, Clock::time_point() + event.at);
    if (event.kind == WireEvent::Kind::Quiet) {
      *clock = std::max(*clock, until);
      return false;
    }
    into += event.bytes;
    return true;
  };
  wire.write = [&typed_out](std::string_view bytes, const std::string &) {
    typed_out += bytes;
  };
  return wire;
}

PtyDevice::PtyDevice(const std::vector<std::string> &argv,
                     const std::vector<std::string> &env) {
  winsize size{24, 511, 0, 0};
  pid = forkpty(&fd, nullptr, nullptr, &size);
  if (pid < 0)
    throw std::runtime_error("forkpty failed");
  if (pid == 0) {
    std::vector<std::string> words = argv, vars = env;
    vars.push_back("TERM=vt100");
    std::vector<char *> args, envp;
    for (auto &word : words)
      args.push_back(word.data());
    args.push_back(nullptr);
    for (auto &var : vars)
      envp.push_back(var.data());
    envp.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
}

PtyDevice::~PtyDevice() {
  close(fd);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

} // namespace testing_support
