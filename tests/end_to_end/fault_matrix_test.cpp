// The real collector against each fault a device, the Zabbix side or the
// command line can show, one row per fault: exit status, message, what
// reached the trapper, no password anywhere, and the time it took.
#include "LINUX/collection/catalogue.hpp"
#include "tests/end_to_end/fault_matrix_support.hpp"
#include "tests/support/fake_trapper.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace fault_matrix;
using testing_support::FakeTrapper;
using testing_support::RunResult;
using testing_support::SimulatedDevice;
using testing_support::TempDir;

constexpr double SHORT_WITHIN = testing_support::SHORT_BOUND + 5;

sockaddr_in loopback() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int port_of(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
  return ntohs(address.sin_port);
}

// A loopback listener that never answers. With a full accept queue the
// kernel drops new SYNs, so a connect never completes; otherwise the
// handshake completes and nothing is ever said.
struct MuteListener {
  int listener = -1;
  std::vector<int> waiting; // connections that fill the queue
  std::string port;

  explicit MuteListener(bool full_queue) {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback();
    bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(listener, full_queue ? 0 : 16);
    port = std::to_string(port_of(listener));
    address.sin_port = htons(static_cast<uint16_t>(port_of(listener)));
    for (int i = 0; full_queue && i < 3; ++i) {
      int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address);
      waiting.push_back(client);
    }
    if (full_queue)
      usleep(200'000); // the first handshakes complete and fill the queue
  }
  ~MuteListener() {
    for (int fd : waiting)
      close(fd);
    close(listener);
  }
  MuteListener(const MuteListener &) = delete;
  MuteListener &operator=(const MuteListener &) = delete;
};

void write_known_hosts(const std::string &home, const std::string &entry) {
  TempDir other;
  ASSERT_EQ(system(("ssh-keygen -q -t ed25519 -N '' -f " + other.path +
                    "/key && mkdir -p " + home + "/.ssh")
                       .c_str()),
            0);
  testing_support::write_text(
      home + "/.ssh/known_hosts",
      entry + " " + testing_support::read_text(other.path + "/key.pub"));
}

// ---------------------------------------------------------------- device

enum class Target {
  Device, // the simulated device, as it is
  WrongPassword,
  OtherHostKey, // known_hosts holds another key for the device
  ClosedPort,
  FullQueue, // SYNs dropped
  Mute,      // handshake, then silence
};

// A replacement in a sample output, to plant bytes where a value is.
struct Edit {
  std::string from, to;
};

struct DeviceCase {
  std::string name;
  std::vector<std::string> device = {}; // start_device.sh settings
  Target target = Target::Device;
  bool short_bound = false;
  double within = 15;     // seconds the run must end within
  double kill_after = 90; // a run that hangs is killed, and fails, by then
  double at_least = 0;    // seconds the device's own pacing takes
  int status = 0;
  std::vector<std::string> in_stdout = {}, in_stderr = {};
  bool delivered = false; // all 36 values, else nothing at all
  Edit summary_edit = {}, errors_edit = {};
  std::vector<std::pair<size_t, std::string>> changed_values = {};
  bool debug = false; // the debug report instead of sending
};
void PrintTo(const DeviceCase &c, std::ostream *os) { *os << c.name; }

std::vector<std::string> edited_sample(const Edit &edit, const TempDir &dir,
                                       const std::string &name) {
  if (edit.from.empty())
    return {};
  std::string text =
      testing_support::read_text(testing_support::sample_path(name + ".txt"));
  size_t at = text.find(edit.from);
  if (at == std::string::npos)
    throw std::runtime_error("sample " + name + " lacks " + edit.from);
  text.replace(at, edit.from.size(), edit.to);
  std::string path = dir.path + "/" + name + ".txt";
  testing_support::write_text(path, text);
  return {name + "=" + path};
}

class DeviceFault : public testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceFault, EndsAsTheFaultRequires) {
  const DeviceCase &c = GetParam();
  TempDir samples, home;
  std::vector<std::string> settings = c.device;
  for (const auto &setting : edited_sample(c.summary_edit, samples, "summary"))
    settings.push_back(setting);
  for (const auto &setting : edited_sample(c.errors_edit, samples, "errors"))
    settings.push_back(setting);
  SimulatedDevice device(device_options(settings));
  FakeTrapper trapper;
  std::unique_ptr<MuteListener> mute;
  std::string port = device.port, password = device.password;
  switch (c.target) {
  case Target::WrongPassword:
    password = WRONG_PASSWORD;
    break;
  case Target::OtherHostKey:
    write_known_hosts(home.path, "[" + device.host + "]:" + device.port);
    break;
  case Target::ClosedPort:
    port = closed_port();
    break;
  case Target::FullQueue:
  case Target::Mute:
    mute = std::make_unique<MuteListener>(c.target == Target::FullQueue);
    port = mute->port;
    break;
  case Target::Device:
    break;
  }
  std::string zabbix_host = c.debug ? "debug" : ZABBIX_HOST;

  RunResult result = run(
      {"discoveryLinux", device.host, port, device.user, password, zabbix_host},
      c.short_bound,
      {{"HOME", home.path}, {"CGNAT_ZABBIX_SERVER", trapper.address()}},
      c.kill_after);

  expect_sound_run(result, c.within);
  EXPECT_GE(result.seconds, c.at_least);
  EXPECT_EQ(result.status, c.status) << masked(result.err);
  for (const auto &part : c.in_stdout)
    EXPECT_NE(result.out.find(part), std::string::npos)
        << part << " in: " << masked(result.out);
  for (const auto &part : c.in_stderr)
    EXPECT_NE(result.err.find(part), std::string::npos)
        << part << " in: " << masked(result.err);
  if (c.status == 1) { // one line that names the device, and nothing else
    EXPECT_EQ(result.out, "");
    expect_error_line(result.err);
    EXPECT_NE(result.err.find(device.host + ":" + port), std::string::npos)
        << masked(result.err);
  }
  if (c.delivered) {
    EXPECT_EQ(trapper.items(), expected_items(ZABBIX_HOST, c.changed_values));
    EXPECT_EQ(result.out, "OK\n");
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_TRUE(trapper.requests().empty()) << "sent after a device failure";
  }
  if (c.target == Target::OtherHostKey) { // refused before the password
    EXPECT_EQ(device.sshd_log().find("password for"), std::string::npos);
  }
}

const std::string SHORT_TIMEOUT = timeout_text(testing_support::SHORT_BOUND);

INSTANTIATE_TEST_SUITE_P(
    FaultMatrix, DeviceFault,
    testing::Values(
        DeviceCase{.name = "connection_refused",
                   .target = Target::ClosedPort,
                   .status = 1,
                   .in_stderr = {"não foi possível conectar"}},
        // The component's own connect limit (10 s) ends it.
        DeviceCase{.name = "syn_dropped",
                   .target = Target::FullQueue,
                   .within = 15,
                   .status = 1,
                   .in_stderr = {"tempo esgotado (10 s)"}},
        DeviceCase{.name = "handshake_then_silence",
                   .target = Target::Mute,
                   .short_bound = true,
                   .within = SHORT_WITHIN,
                   .in_stdout = {SHORT_TIMEOUT}},
        DeviceCase{
            .name = "wrong_password",
            .target = Target::WrongPassword,
            .status = 1,
            .in_stderr = {"autenticação recusada", "\"" + DEVICE_USER + "\""}},
        DeviceCase{.name = "keyboard_interactive_only",
                   .device = {"--kbdint-only"},
                   .delivered = true},
        // Slower than the 10 s step limit in all (7 s to the password
        // prompt, 3-6 s to the verdict, as sshd pads it), yet each step
        // answers within it, as a busy device does.
        DeviceCase{.name = "slow_login_steps",
                   .device = {"--auth-pause-ms", "7000,3000"},
                   .within = 25,
                   .at_least = 10,
                   .delivered = true},
        DeviceCase{.name = "changed_host_key",
                   .target = Target::OtherHostKey,
                   .status = 1,
                   .in_stderr = {"chave do servidor difere", "known_hosts"}},
        DeviceCase{.name = "never_prompts",
                   .device = {"fault=no-prompt"},
                   .short_bound = true,
                   .within = SHORT_WITHIN,
                   .in_stdout = {SHORT_TIMEOUT}},
        DeviceCase{.name = "banner_with_dollar",
                   .device = {"fault=dollar-banner"},
                   .delivered = true},
        // Terminal behaviours of real command lines: each must give the
        // plain device's 36 values, however the bytes are split or paced.
        DeviceCase{
            .name = "no_echo", .device = {"fault=no-echo"}, .delivered = true},
        DeviceCase{.name = "no_echo_slow_late_byte_wise",
                   .device = {"fault=no-echo,slow,late-prompt,byte-wise",
                              "slow_ms=500"},
                   .within = 40,
                   .delivered = true},
        DeviceCase{.name = "byte_wise",
                   .device = {"fault=byte-wise"},
                   .delivered = true},
        DeviceCase{.name = "byte_wise_1ms",
                   .device = {"fault=byte-wise", "byte_pause_ms=1"},
                   .within = 30,
                   .delivered = true},
        DeviceCase{.name = "byte_wise_5ms",
                   .device = {"fault=byte-wise", "byte_pause_ms=5"},
                   .within = 60,
                   .delivered = true},
        DeviceCase{.name = "cut_at_dollar_crlf_escapes",
                   .device = {"fault=cut-output,colour-prompt,prompt-escapes"},
                   .within = 40,
                   .delivered = true},
        DeviceCase{.name = "line_editor_echo",
                   .device = {"fault=line-editor"},
                   .delivered = true},
        DeviceCase{
            .name = "line_editor_narrow_slow_echo",
            .device = {"fault=line-editor", "echo_width=7", "echo_pause_ms=5"},
            .delivered = true},
        DeviceCase{.name = "redrawn_prompt",
                   .device = {"fault=redraw-prompt"},
                   .delivered = true},
        DeviceCase{.name = "escapes_after_prompt",
                   .device = {"fault=prompt-escapes"},
                   .delivered = true},
        DeviceCase{.name = "prompt_without_blank",
                   .device = {"prompt=cgnat-device$"},
                   .delivered = true},
        DeviceCase{.name = "prompt_written_twice",
                   .device = {"fault=double-prompt"},
                   .delivered = true},
        DeviceCase{.name = "late_prompt",
                   .device = {"fault=late-prompt"},
                   .delivered = true},
        DeviceCase{.name = "cr_cr_lf_line_ends",
                   .device = {"fault=cr-cr-lf"},
                   .delivered = true},
        DeviceCase{.name = "lf_cr_line_ends",
                   .device = {"fault=lf-cr"},
                   .delivered = true},
        DeviceCase{.name = "last_login_line",
                   .device = {"fault=last-login"},
                   .delivered = true},
        DeviceCase{.name = "late_motd",
                   .device = {"fault=late-motd"},
                   .delivered = true},
        DeviceCase{.name = "wall_message",
                   .device = {"fault=wall"},
                   .delivered = true},
        DeviceCase{.name = "syslog_redraws_prompt",
                   .device = {"fault=syslog-redraw"},
                   .delivered = true},
        DeviceCase{.name = "no_prompt_until_enter",
                   .device = {"fault=enter-first"},
                   .delivered = true},
        DeviceCase{.name = "prompt_changes_per_command",
                   .device = {"fault=changing-prompt"},
                   .delivered = true},
        DeviceCase{.name = "banner_boxed_in_dollar",
                   .device = {"fault=dollar-box"},
                   .delivered = true},
        // Login shells and prompts of real systems: the terminal echoes
        // what is typed at once (before a slow profile ends, too), prompts
        // come with bracketed-paste switches, an erase or fish's padding.
        // A hang is killed after 10 s instead of the 60 s silence limit.
        DeviceCase{.name = "terminal_echoes",
                   .device = {"fault=tty-echo"},
                   .within = 5,
                   .kill_after = 10,
                   .delivered = true},
        DeviceCase{.name = "terminal_echoes_banner_after_700ms",
                   .device = {"fault=tty-echo", "banner_delay_ms=700"},
                   .within = 5,
                   .kill_after = 10,
                   .at_least = 0.7,
                   .delivered = true},
        DeviceCase{.name = "terminal_echoes_banner_after_1s",
                   .device = {"fault=tty-echo", "banner_delay_ms=1000"},
                   .within = 5,
                   .kill_after = 10,
                   .at_least = 1,
                   .delivered = true},
        DeviceCase{.name = "terminal_echoes_banner_after_2s",
                   .device = {"fault=tty-echo", "banner_delay_ms=2000"},
                   .within = 6,
                   .kill_after = 10,
                   .at_least = 2,
                   .delivered = true},
        DeviceCase{.name = "terminal_echoes_paste_codes",
                   .device = {"fault=tty-echo,paste-codes"},
                   .within = 5,
                   .kill_after = 10,
                   .delivered = true},
        DeviceCase{.name = "prompt_after_erase",
                   .device = {"fault=erase-prompt"},
                   .within = 5,
                   .kill_after = 10,
                   .delivered = true},
        DeviceCase{.name = "terminal_echoes_prompt_after_erase",
                   .device = {"fault=tty-echo,erase-prompt"},
                   .within = 5,
                   .kill_after = 10,
                   .delivered = true},
        DeviceCase{.name = "terminal_echoes_prompt_written_twice",
                   .device = {"fault=tty-echo,double-prompt"},
                   .within = 5,
                   .kill_after = 10,
                   .delivered = true},
        DeviceCase{.name = "fish_padding",
                   .device = {"fault=fish-padding"},
                   .within = 5,
                   .kill_after = 10,
                   .delivered = true},
        DeviceCase{.name = "fish_padding_paste_codes",
                   .device = {"fault=fish-padding,paste-codes"},
                   .within = 5,
                   .kill_after = 10,
                   .delivered = true},
        // Every Enter answered at once with a prompt that is not the one
        // expected: said at once, with the device's last line.
        DeviceCase{.name = "prompt_without_dollar",
                   .device = {"prompt=r1# "},
                   .within = 5,
                   .kill_after = 10,
                   .status = 1,
                   .in_stderr = {"r1#"}},
        DeviceCase{.name = "no_echo_debug_report",
                   .device = {"fault=no-echo,wall"},
                   .in_stdout = {"'1234'", "'987654321098'"},
                   .debug = true},
        DeviceCase{.name = "answers_slowly",
                   .device = {"fault=slow", "slow_ms=1000"},
                   .within = 40,
                   .delivered = true},
        DeviceCase{
            .name = "drops_on_first_command",
            .device = {"fault=drop", "drop_after=1"},
            .status = 1,
            .in_stderr = {"encerrou a conexão", "\"set cli screen-length 0\""}},
        DeviceCase{
            .name = "drops_after_first_command",
            .device = {"fault=drop", "drop_after=2"},
            .status = 1,
            .in_stderr = {"encerrou a conexão", "\"show cgnat summary\""}},
        DeviceCase{
            .name = "drops_after_second_command",
            .device = {"fault=drop", "drop_after=3"},
            .status = 1,
            .in_stderr = {"encerrou a conexão", "\"show cgnat errors\""}},
        // A pager stop waits for a key forever: the run must say so at
        // once instead of idling out its bound and sending nothing.
        DeviceCase{.name = "pages_despite_screen_length",
                   .device = {"fault=ignore-screen-length", "page_length=10"},
                   .short_bound = true,
                   .within = SHORT_WITHIN,
                   .status = 1,
                   .in_stderr = {"--More--", "\"show cgnat summary\""}},
        DeviceCase{.name = "output_over_the_cap",
                   .device = {"fault=huge-output"},
                   .within = 60,
                   .status = 1,
                   .in_stderr = {"64 MiB", "\"show cgnat summary\""}},
        // Bad bytes inside two values and on a line of their own; index
        // 24 is the inbound session-table-full counter.
        DeviceCase{.name = "invalid_utf8",
                   .device = {"fault=invalid-utf8"},
                   .delivered = true,
                   .summary_edit = {"~1234", "12\xff"
                                             "34"},
                   .errors_edit = {"7           9", "7\xc3           9"},
                   .changed_values = {{0, "12" + REPLACEMENT + "34"},
                                      {24, "7" + REPLACEMENT}}},
        DeviceCase{.name = "invalid_utf8_debug_report",
                   .device = {"fault=invalid-utf8"},
                   .in_stdout = {"'12" + REPLACEMENT + "34'",
                                 "'7" + REPLACEMENT + "'"},
                   .summary_edit = {"~1234", "12\xff"
                                             "34"},
                   .errors_edit = {"7           9", "7\xc3           9"},
                   .debug = true}),
    [](const auto &info) { return info.param.name; });

} // namespace
