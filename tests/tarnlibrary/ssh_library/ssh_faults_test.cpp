// Every way a device session can fail ends in one clear error that names
// the place, never the password.
#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/ssh_library/ssh_library.hpp"
#include "tarnlibrary/ssh_library/ssh_session.hpp"
#include "tests/support/loopback.hpp"
#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testing_support::SimulatedDevice;

const std::vector<std::string> COMMANDS{
    "set cli screen-length 0", "show cgnat summary", "show cgnat errors"};

enum class Tamper { None, WrongPassword, OtherHostKey, ClosedPort };

struct Case {
  std::string name;
  std::vector<std::string> device;
  Tamper tamper;
  std::string port;    // non-empty: used instead of the device's port
  size_t failing_step; // 0: connect, n: the n-th command
  std::vector<std::string> message_parts;
  bool bad_argument; // std::invalid_argument rather than runtime_error
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const std::string WRONG_PASSWORD = "Wrong-Secret-781";

class Fault : public testing::TestWithParam<Case> {};

struct Login {
  std::string port, password;
};

// The port and password the case gives, the device's files tampered with.
Login tampered(const Case &c, SimulatedDevice &device) {
  setenv("HOME", device.dir.path.c_str(), 1);
  Login login{device.port, device.password};
  if (c.tamper == Tamper::WrongPassword)
    login.password = WRONG_PASSWORD;
  if (c.tamper == Tamper::ClosedPort)
    login.port = testing_support::closed_port();
  if (!c.port.empty())
    login.port = c.port;
  if (c.tamper == Tamper::OtherHostKey) {
    testing_support::TempDir other;
    EXPECT_EQ(system(("ssh-keygen -q -t ed25519 -N '' -f " + other.path +
                      "/key && mkdir -p " + device.dir.path + "/.ssh")
                         .c_str()),
              0);
    std::string key = testing_support::read_text(other.path + "/key.pub");
    testing_support::write_text(device.dir.path + "/.ssh/known_hosts",
                                "[" + device.host + "]:" + device.port + " " +
                                    key);
  }
  return login;
}

TEST_P(Fault, FailsAtItsStepWithAClearMessage) {
  const Case &c = GetParam();
  SimulatedDevice device(c.device);
  auto [port, password] = tampered(c, device);
  tarn::Ssh_connection_3 session(device.host, port, device.user, password);
  std::string message;
  size_t step = 0;
  try {
    session.connect();
    for (step = 1; step <= COMMANDS.size(); ++step)
      session.execute_command(COMMANDS[step - 1]);
    FAIL() << "no error";
  } catch (const std::invalid_argument &error) {
    EXPECT_TRUE(c.bad_argument) << error.what();
    message = error.what();
  } catch (const std::runtime_error &error) {
    EXPECT_FALSE(c.bad_argument) << error.what();
    message = error.what();
  }
  EXPECT_EQ(step, c.failing_step) << message;
  for (const std::string &part : c.message_parts)
    EXPECT_NE(message.find(part), std::string::npos)
        << "missing \"" << part << "\" in: " << message;
  EXPECT_EQ(message.find(device.password), std::string::npos);
  EXPECT_EQ(message.find(WRONG_PASSWORD), std::string::npos);
  if (c.tamper == Tamper::OtherHostKey) { // refused before the password
    EXPECT_EQ(device.sshd_log().find("password for"), std::string::npos);
  }
}

const std::vector<Case> CASES{
    Case{"wrong_password",
         {},
         Tamper::WrongPassword,
         "",
         0,
         {"autenticação recusada", "\"cgnatsim\"", "127.0.0.1:"},
         false},
    Case{"wrong_password_keyboard_interactive",
         {"--kbdint-only"},
         Tamper::WrongPassword,
         "",
         0,
         {"autenticação recusada"},
         false},
    Case{"changed_host_key",
         {},
         Tamper::OtherHostKey,
         "",
         0,
         {"chave do servidor difere", "known_hosts"},
         false},
    Case{"nothing_listening",
         {},
         Tamper::ClosedPort,
         "",
         0,
         {"não foi possível conectar", "127.0.0.1:"},
         false},
    Case{"port_with_letter", {}, Tamper::None, "22x", 0, {"\"22x\""}, true},
    Case{"port_zero", {}, Tamper::None, "0", 0, {"\"0\""}, true},
    Case{"port_too_big", {}, Tamper::None, "65536", 0, {"\"65536\""}, true},
    Case{"drop_on_first_command",
         {"fault=drop", "drop_after=1"},
         Tamper::None,
         "",
         1,
         {"encerrou a conexão", "\"set cli screen-length 0\""},
         false},
    Case{"drop_on_third_command",
         {"fault=drop", "drop_after=3"},
         Tamper::None,
         "",
         3,
         {"encerrou a conexão", "\"show cgnat errors\""},
         false},
    Case{"output_over_64_mib",
         {"fault=huge-output"},
         Tamper::None,
         "",
         2,
         {"64 MiB", "\"show cgnat summary\""},
         false}};

INSTANTIATE_TEST_SUITE_P(Devices, Fault, testing::ValuesIn(CASES),
                         [](const auto &info) { return info.param.name; });

// However the login ends, the password's bytes are gone from memory.
class LoginFault : public testing::TestWithParam<Case> {};

std::vector<Case> login_cases() {
  std::vector<Case> cases;
  for (const Case &c : CASES)
    if (c.failing_step == 0)
      cases.push_back(c);
  return cases;
}

TEST_P(LoginFault, LeavesNoPasswordBytes) {
  const Case &c = GetParam();
  SimulatedDevice device(c.device);
  auto [port, password] = tampered(c, device);
  tarn::ShellSession state;
  state.host = device.host;
  state.port_text = port;
  state.user = device.user;
  state.pwd = password + std::string(40, 'x'); // on the heap, not inline
  state.end_data = "$";
  const char *bytes = state.pwd.data();
  size_t capacity = state.pwd.capacity();
  EXPECT_ANY_THROW(tarn::open_shell(state));
  ASSERT_EQ(state.pwd.data(), bytes) << "the buffer moved: nothing to check";
  EXPECT_EQ(std::count(bytes, bytes + capacity, '\0'),
            static_cast<std::ptrdiff_t>(capacity));
}

INSTANTIATE_TEST_SUITE_P(Devices, LoginFault, testing::ValuesIn(login_cases()),
                         [](const auto &info) { return info.param.name; });

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The run's deadline ends the wait for a prompt that never comes. Run in a
// child: the bound's watchdog ends its whole process.
TEST(FaultBound, NeverPromptingDeviceMeetsTheRunDeadline) {
  SimulatedDevice device({"fault=no-prompt"});
  setenv("HOME", device.dir.path.c_str(), 1);
  auto start = Clock::now();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 12;
    try {
      auto guard = tarn::runtime_limiter(2);
      guard.enter();
      tarn::Ssh_connection_3 session(device.host, device.port, device.user,
                                     device.password);
      session.connect();
    } catch (const tarn::TimeoutException &) {
      code = 10;
    } catch (...) {
      code = 11;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 10);
  EXPECT_LT(seconds_since(start), 2 + tarn::WATCHDOG_GRACE_SECONDS);
}

// A server that takes the connection and never speaks is given up after
// the connect bound, on the component's own.
TEST(FaultBound, SilentServerEndsAtTheConnectBound) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(
      bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address),
      0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);
  auto start = Clock::now();
  tarn::Ssh_connection_3 session(
      "127.0.0.1", std::to_string(ntohs(address.sin_port)), "someone", "x");
  try {
    session.connect();
    ADD_FAILURE() << "connected to a silent server";
  } catch (const std::runtime_error &error) {
    EXPECT_NE(std::string(error.what()).find("tempo esgotado (10 s)"),
              std::string::npos)
        << error.what();
  }
  double elapsed = seconds_since(start);
  EXPECT_GE(elapsed, 9.5);
  EXPECT_LT(elapsed, 15);
  close(listener);
}

} // namespace
