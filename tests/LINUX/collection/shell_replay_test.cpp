// The simulated device's byte streams, captured over pipes for each
// terminal behaviour, fed back through the shell reading code split at
// every byte boundary and at random points: the prompt, the three outputs
// and their parse must not depend on how the bytes were split.
#include "LINUX/collection/collection.hpp"
#include "tarnlibrary/ssh_library/shell_reading.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>

namespace {

using tarn::ShellStep;

const std::vector<std::string> COMMANDS{
    "set cli screen-length 0", "show cgnat summary", "show cgnat errors"};

struct Session {
  std::string prompt;
  std::vector<std::string> outputs;
};

// Where the bytes come from and where Enters and commands go. `next`
// returns false when the device stayed quiet for quiet_ms (live) or the
// stream ran out (replay).
struct Wire {
  std::function<bool(std::string &, int quiet_ms)> next;
  std::function<void(const std::string &)> send;
};

// The collector's session over a wire, as the SSH component runs it.
Session run_session(Wire &wire) {
  Session session;
  tarn::PromptFinder finder;
  finder.stream.end_data = "$";
  std::string more;
  int quiet = 500;
  ShellStep step = ShellStep::Read;
  while (step != ShellStep::Done) {
    if (step == ShellStep::SendEnter) {
      wire.send("\n");
      step = tarn::advance(finder);
    } else if (wire.next(more, quiet))
      step = tarn::feed(finder, more);
    else if ((step = tarn::on_quiet(finder)) == ShellStep::SendEnter)
      quiet *= 2;
    else if (step == ShellStep::Read)
      throw std::runtime_error("no prompt found");
  }
  session.prompt = finder.prompt;
  tarn::ShellStream stream = std::move(finder.stream);
  for (const std::string &command : COMMANDS) {
    wire.send(command + "\n\n");
    tarn::CommandRead read;
    read.stream = std::move(stream);
    read.expect_echo = finder.echoes;
    tarn::begin_command(read, command);
    step = tarn::feed(read, "");
    while (step == ShellStep::Read) {
      if (wire.next(more, 0))
        step = tarn::feed(read, more);
      else if ((step = tarn::on_quiet(read, false)) == ShellStep::Read) {
        if (wire.next(more, 500))
          step = tarn::feed(read, more);
        else if ((step = tarn::on_quiet(read, true)) == ShellStep::Read)
          throw std::runtime_error("no end of output for " + command);
      }
    }
    if (step == ShellStep::PagerStop)
      throw std::runtime_error("pager stop: " + read.pager_stop);
    session.outputs.push_back(tarn::take_command_output(read));
    stream = std::move(read.stream);
  }
  return session;
}

// The device run directly on pipes; every byte it sends is kept.
struct Capture {
  Session session;
  std::string stream;
};

Capture capture(std::vector<std::string> settings) {
  settings.push_back("summary=" + testing_support::sample_path("summary.txt"));
  settings.push_back("errors=" + testing_support::sample_path("errors.txt"));
  testing_support::PipedDevice device(settings);
  Capture result;
  Wire wire;
  wire.next = [&](std::string &into, int quiet_ms) {
    if (!device.read_some(into, quiet_ms))
      return false;
    result.stream += into;
    return true;
  };
  wire.send = [&](const std::string &bytes) { device.send(bytes); };
  result.session = run_session(wire);
  device.send("exit\n");
  result.stream += device.finish();
  return result;
}

// The captured stream fed back in pieces cut at `cuts` (sorted offsets).
Session replay(const std::string &stream, const std::vector<size_t> &cuts) {
  size_t piece = 0, at = 0;
  Wire wire;
  wire.next = [&](std::string &into, int) {
    if (at >= stream.size())
      return false;
    size_t end = piece < cuts.size() ? cuts[piece++] : stream.size();
    into = stream.substr(at, end - at);
    at = end;
    return true;
  };
  wire.send = [](const std::string &) {};
  return run_session(wire);
}

std::pair<cgnat::MetricMap, cgnat::MetricMap> parse(const Session &session) {
  return {cgnat::parse_summary(cgnat::normalise_summary(session.outputs[1])),
          cgnat::parse_errors(cgnat::normalise_errors(session.outputs[2]))};
}

struct Behaviour {
  std::string name;
  std::vector<std::string> settings;
};
void PrintTo(const Behaviour &b, std::ostream *os) { *os << b.name; }

class ShellReplay : public testing::TestWithParam<Behaviour> {};

TEST_P(ShellReplay, SplitsChangeNothing) {
  static const auto plain = parse(capture({}).session);
  ASSERT_EQ(plain.first.size(), 14u);
  ASSERT_EQ(plain.second.size(), 26u);

  Capture live = capture(GetParam().settings);
  EXPECT_EQ(parse(live.session), plain) << "differs from the plain device";
  EXPECT_EQ(replay(live.stream, {}).outputs, live.session.outputs)
      << "unsplit replay differs from the live session";

  // Every single byte boundary, one cut at a time.
  for (size_t cut = 1; cut < live.stream.size(); ++cut) {
    Session split = replay(live.stream, {cut});
    ASSERT_EQ(split.prompt, live.session.prompt) << "cut at " << cut;
    ASSERT_EQ(split.outputs, live.session.outputs) << "cut at " << cut;
  }
  // Byte by byte, then thousands of random cuts.
  std::vector<size_t> every;
  for (size_t cut = 1; cut < live.stream.size(); ++cut)
    every.push_back(cut);
  EXPECT_EQ(replay(live.stream, every).outputs, live.session.outputs);
  std::mt19937 random(4817);
  for (int round = 0; round < 200; ++round) {
    std::vector<size_t> cuts;
    for (size_t cut = 1; cut < live.stream.size(); ++cut)
      if (random() % 8 == 0)
        cuts.push_back(cut);
    Session split = replay(live.stream, cuts);
    ASSERT_EQ(split.outputs, live.session.outputs) << "round " << round;
    ASSERT_EQ(parse(split), plain) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Captured, ShellReplay,
    testing::Values(
        Behaviour{"plain", {}}, Behaviour{"no_echo", {"fault=no-echo"}},
        Behaviour{"no_echo_slow_late",
                  {"fault=no-echo,slow,late-prompt", "slow_ms=300"}},
        Behaviour{"cut_output", {"fault=cut-output,colour-prompt"}},
        Behaviour{"line_editor",
                  {"fault=line-editor", "echo_width=7", "echo_pause_ms=0"}},
        Behaviour{"redrawn_prompt", {"fault=redraw-prompt"}},
        Behaviour{"escapes_after_prompt", {"fault=prompt-escapes"}},
        Behaviour{"prompt_without_blank", {"prompt=cgnat-device$"}},
        Behaviour{"prompt_written_twice", {"fault=double-prompt"}},
        Behaviour{"cr_cr_lf", {"fault=cr-cr-lf"}},
        Behaviour{"lf_cr", {"fault=lf-cr"}},
        Behaviour{"last_login", {"fault=last-login"}},
        Behaviour{"late_motd", {"fault=late-motd"}},
        Behaviour{"wall", {"fault=wall"}},
        Behaviour{"syslog_redraw", {"fault=syslog-redraw"}},
        Behaviour{"no_prompt_until_enter", {"fault=enter-first"}},
        Behaviour{"changing_prompt", {"fault=changing-prompt"}},
        Behaviour{"dollar_box", {"fault=dollar-box"}},
        Behaviour{"dollar_banner", {"fault=dollar-banner"}}),
    [](const auto &info) { return info.param.name; });

} // namespace
