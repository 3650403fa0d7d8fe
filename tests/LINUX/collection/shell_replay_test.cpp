// The session's own loop (the one the SSH component runs) against devices
// on pipes and pseudo-terminals: the simulated device in each behaviour and
// real shells. Each live session is recorded, then replayed to the same loop
// with a simulated clock, its bytes split at every byte boundary and at
// random points: the prompt, the outputs, their parse and every byte the
// loop types must not change.
#include "LINUX/collection/collection.hpp"
#include "tests/support/shell_recording.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

namespace {

using testing_support::Recording;
using namespace std::chrono_literals;

const std::vector<std::string> COMMANDS{
    "set cli screen-length 0", "show cgnat summary", "show cgnat errors"};

struct Session {
  std::string prompt;
  std::vector<std::string> outputs;
};

Session run_session(tarn::ShellWire &wire) {
  tarn::ShellDialogue dialogue;
  dialogue.end_data = "$";
  dialogue.where = "replay";
  tarn::find_prompt(wire, dialogue);
  Session session{dialogue.prompt, {}};
  for (const std::string &command : COMMANDS)
    session.outputs.push_back(tarn::run_command(wire, dialogue, command));
  return session;
}

struct Capture {
  Session session;
  Recording recording;
};

// A live session with the device on these descriptors, recorded.
Capture capture(int from, int to) {
  Capture result;
  tarn::ShellWire wire =
      testing_support::recording_wire(from, to, result.recording);
  result.session = run_session(wire);
  return result;
}

Capture capture_piped(std::vector<std::string> settings) {
  settings.push_back("summary=" + testing_support::sample_path("summary.txt"));
  settings.push_back("errors=" + testing_support::sample_path("errors.txt"));
  testing_support::PipedDevice device(settings);
  return capture(device.from, device.to);
}

// A real shell as the device's login shell: a prompt ending in "$ " and a
// `show` program in PATH that prints the device's two outputs.
struct ShellHome {
  testing_support::TempDir dir;
  explicit ShellHome(const std::string &profile) {
    std::string show = dir.path + "/bin/show";
    mkdir((dir.path + "/bin").c_str(), 0755);
    mkdir((dir.path + "/fish").c_str(), 0755);
    testing_support::write_text(
        show, "#!/bin/sh\ncase \"$*\" in\n"
              "'cgnat summary') cat '" +
                  testing_support::sample_path("summary.txt") +
                  "' ;;\n'cgnat errors') cat '" +
                  testing_support::sample_path("errors.txt") + "' ;;\nesac\n");
    chmod(show.c_str(), 0755);
    const std::string prompt = "admin@cgnat:~$ ";
    testing_support::write_text(dir.path + "/profile",
                                profile + "\nPS1='" + prompt + "'\n");
    testing_support::write_text(dir.path + "/.tcshrc",
                                profile + "\nset prompt='" + prompt + "'\n");
    testing_support::write_text(dir.path + "/fish/config.fish",
                                profile + "\nfunction fish_prompt; echo -n '" +
                                    prompt + "'; end\n");
  }
  std::vector<std::string> env() const {
    return {"HOME=" + dir.path, "PATH=" + dir.path + "/bin:/usr/bin:/bin",
            "ENV=" + dir.path + "/profile", "XDG_CONFIG_HOME=" + dir.path,
            "PS1=admin@cgnat:~$ "};
  }
};

Capture capture_shell(const std::vector<std::string> &argv,
                      const std::string &profile) {
  ShellHome home(profile);
  std::vector<std::string> words = argv;
  for (std::string &word : words)
    if (word == "PROFILE")
      word = home.dir.path + "/profile";
  testing_support::PtyDevice device(words, home.env());
  return capture(device.fd, device.fd);
}

struct Replayed {
  Session session;
  std::string typed;
};

Replayed replay(const Recording &recording, const std::vector<size_t> &cuts) {
  Replayed result;
  tarn::ShellWire wire =
      testing_support::replay_wire(recording, cuts, result.typed);
  result.session = run_session(wire);
  return result;
}

std::pair<cgnat::MetricMap, cgnat::MetricMap> parse(const Session &session) {
  return {cgnat::parse_summary(cgnat::normalise_summary(session.outputs[1])),
          cgnat::parse_errors(cgnat::normalise_errors(session.outputs[2]))};
}

struct Behaviour {
  std::string name;
  std::vector<std::string> settings; // simulated device on pipes
  std::vector<std::string> shell;    // or a real shell on a terminal
  std::string profile;               // run by the shell before its prompt
};
void PrintTo(const Behaviour &b, std::ostream *os) { *os << b.name; }

class ShellReplay : public testing::TestWithParam<Behaviour> {};

TEST_P(ShellReplay, SplitsAndClockChangeNothing) {
  static const auto plain = parse(capture_piped({}).session);
  ASSERT_EQ(plain.first.size(), 14u);
  ASSERT_EQ(plain.second.size(), 26u);

  const Behaviour &behaviour = GetParam();
  Capture live = behaviour.shell.empty()
                     ? capture_piped(behaviour.settings)
                     : capture_shell(behaviour.shell, behaviour.profile);
  EXPECT_EQ(parse(live.session), plain) << "differs from the plain device";
  const std::string stream = testing_support::received(live.recording);
  const std::string typed = testing_support::typed(live.recording);
  // One line a command, one Enter after each, and only the Enters the
  // login needed.
  const std::string commands = "set cli screen-length 0\n\nshow cgnat "
                               "summary\n\nshow cgnat errors\n\n";
  ASSERT_GE(typed.size(), commands.size());
  EXPECT_EQ(typed.substr(typed.size() - commands.size()), commands);
  EXPECT_LE(typed.size() - commands.size(), 4u) << "Enters at login";

  auto check = [&](const std::vector<size_t> &cuts, const std::string &how) {
    Replayed split = replay(live.recording, cuts);
    ASSERT_EQ(split.session.prompt, live.session.prompt) << how;
    ASSERT_EQ(split.session.outputs, live.session.outputs) << how;
    ASSERT_EQ(split.typed, typed) << how;
  };
  check({}, "unsplit");
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    check({cut}, "cut at " + std::to_string(cut));
    if (testing::Test::HasFatalFailure())
      return;
  }
  std::vector<size_t> every;
  for (size_t cut = 1; cut < stream.size(); ++cut)
    every.push_back(cut);
  check(every, "byte by byte");
  std::mt19937 random(4817);
  for (int round = 0; round < 100 && !testing::Test::HasFatalFailure();
       ++round) {
    std::vector<size_t> cuts;
    for (size_t cut = 1; cut < stream.size(); ++cut)
      if (random() % 8 == 0)
        cuts.push_back(cut);
    check(cuts, "round " + std::to_string(round));
  }
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedDevice, ShellReplay,
    testing::Values(
        Behaviour{"plain", {}, {}, ""},
        Behaviour{"no_echo", {"fault=no-echo"}, {}, ""},
        Behaviour{"no_echo_slow_late",
                  {"fault=no-echo,slow,late-prompt", "slow_ms=300"},
                  {},
                  ""},
        Behaviour{"cut_output", {"fault=cut-output,colour-prompt"}, {}, ""},
        Behaviour{"line_editor",
                  {"fault=line-editor", "echo_width=7", "echo_pause_ms=0"},
                  {},
                  ""},
        Behaviour{"redrawn_prompt", {"fault=redraw-prompt"}, {}, ""},
        Behaviour{"escapes_after_prompt", {"fault=prompt-escapes"}, {}, ""},
        Behaviour{"prompt_without_blank", {"prompt=cgnat-device$"}, {}, ""},
        Behaviour{"prompt_written_twice", {"fault=double-prompt"}, {}, ""},
        Behaviour{"cr_cr_lf", {"fault=cr-cr-lf"}, {}, ""},
        Behaviour{"lf_cr", {"fault=lf-cr"}, {}, ""},
        Behaviour{"last_login", {"fault=last-login"}, {}, ""},
        Behaviour{"late_motd", {"fault=late-motd"}, {}, ""},
        Behaviour{"wall", {"fault=wall"}, {}, ""},
        Behaviour{"syslog_redraw", {"fault=syslog-redraw"}, {}, ""},
        Behaviour{"no_prompt_until_enter", {"fault=enter-first"}, {}, ""},
        Behaviour{"changing_prompt", {"fault=changing-prompt"}, {}, ""},
        Behaviour{"dollar_box", {"fault=dollar-box"}, {}, ""},
        Behaviour{"dollar_banner", {"fault=dollar-banner"}, {}, ""},
        Behaviour{"terminal_echoes", {"fault=tty-echo"}, {}, ""},
        Behaviour{"terminal_echoes_banner_700ms",
                  {"fault=tty-echo", "banner_delay_ms=700"},
                  {},
                  ""},
        Behaviour{"terminal_echoes_banner_2s",
                  {"fault=tty-echo", "banner_delay_ms=2000"},
                  {},
                  ""},
        Behaviour{"terminal_echoes_paste_codes",
                  {"fault=tty-echo,paste-codes"},
                  {},
                  ""},
        Behaviour{"terminal_echoes_prompt_after_erase",
                  {"fault=tty-echo,erase-prompt"},
                  {},
                  ""},
        Behaviour{"terminal_echoes_prompt_written_twice",
                  {"fault=tty-echo,double-prompt"},
                  {},
                  ""},
        Behaviour{"prompt_after_erase", {"fault=erase-prompt"}, {}, ""},
        Behaviour{"fish_padding", {"fault=fish-padding"}, {}, ""},
        Behaviour{"fish_padding_paste_codes",
                  {"fault=fish-padding,paste-codes"},
                  {},
                  ""}),
    [](const auto &info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    RealShell, ShellReplay,
    testing::Values(
        Behaviour{"bash", {}, {"/bin/bash", "--rcfile", "PROFILE", "-i"}, ""},
        Behaviour{"bash_slow_profile",
                  {},
                  {"/bin/bash", "--rcfile", "PROFILE", "-i"},
                  "sleep 1"},
        Behaviour{"dash", {}, {"/bin/dash", "-i"}, ""},
        Behaviour{"dash_slow_profile", {}, {"/bin/dash", "-i"}, "sleep 1"},
        Behaviour{"dash_message_after_prompt",
                  {},
                  {"/bin/dash", "-i"},
                  "(sleep 0.2; echo 'backup finished') &"},
        Behaviour{"busybox_ash", {}, {"/bin/busybox", "ash", "-i"}, ""},
        Behaviour{"mksh", {}, {"/bin/mksh", "-i"}, ""},
        Behaviour{"zsh", {}, {"/bin/zsh", "-f", "-i"}, ""},
        Behaviour{"fish", {}, {"/usr/bin/fish", "-i"}, ""},
        Behaviour{"tcsh", {}, {"/bin/tcsh", "-i"}, ""}),
    [](const auto &info) { return info.param.name; });

// Hand-made streams for the ways a session must fail: each event is the
// device's bytes, "~" for nothing more at once, or "~~" for that and a
// quiet period after.
struct Failing {
  std::string name;
  std::vector<std::string> events;
  std::vector<std::string> message_parts;
};
void PrintTo(const Failing &f, std::ostream *os) { *os << f.name; }

class ShellFailure : public testing::TestWithParam<Failing> {};

TEST_P(ShellFailure, EndsWithAClearError) {
  using testing_support::WireEvent;
  Recording recording;
  auto at = tarn::Clock::duration::zero();
  for (const std::string &event : GetParam().events) {
    at += std::chrono::milliseconds(1);
    if (event.find_first_not_of('~') != std::string::npos)
      recording.push_back({WireEvent::Kind::Data, event, at});
    else
      for (size_t quiet = 0; quiet < event.size(); ++quiet)
        recording.push_back({WireEvent::Kind::Quiet, "", at += quiet * 500ms});
  }
  try {
    replay(recording, {});
    FAIL() << "no error";
  } catch (const std::runtime_error &error) {
    for (const std::string &part : GetParam().message_parts)
      EXPECT_THAT(error.what(), testing::HasSubstr(part));
  }
}

const std::string P = "cgnat-device$ ";

INSTANTIATE_TEST_SUITE_P(
    Streams, ShellFailure,
    testing::Values(
        Failing{"router_prompt",
                {"\r\nr1# ", "~~", "\r\nr1# ", "~~", "\r\nr1# ", "~~"},
                {"\"r1# \"", "não termina em \"$\""}},
        Failing{
            "escaped_in_message",
            {"\r\nr1\"\\# ", "~~", "\r\nr1\"\\# ", "~~", "\r\nr1\"\\# ", "~~"},
            {"\"r1\\\"\\\\# \""}},
        // An answer drawn late: the prompt, then output on its line.
        Failing{"prompt_inside_output",
                {"\r\n" + P, "~", "\r\n" + P, "set cli screen-length 0\r\n", P,
                 "~", "\r\n" + P, "show cgnat summary\r\n",
                 P + "Active sessions 5\r\n" + P, "~", "\r\n" + P},
                {"\"show cgnat summary\"", "fora de ordem"}},
        Failing{"pager_stop",
                {"\r\n" + P, "~", "\r\n" + P, "set cli screen-length 0\r\n", P,
                 "~", "\r\n" + P, "show cgnat summary\r\n",
                 "Active sessions 5\r\n--More--", "~"},
                {"--More--", "\"show cgnat summary\""}},
        Failing{"silent_after_login",
                {"\r\n" + P, "~", "\r\n" + P},
                {"60 s sem enviar nada", "\"set cli screen-length 0\""}}),
    [](const auto &info) { return info.param.name; });

} // namespace
