#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"
#include "tests/support/run_binary.hpp"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

RunOptions bash_options() {
  RunOptions options;
  options.executable = "/bin/bash";
  options.time_limit = 30;
  return options;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/cgnat-test.XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  path = pattern;
  chmod(path.c_str(), 0755); // the device's user must reach its files
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string read_text(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void write_text(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string sample_path(const std::string &name) {
  return std::string(CGNAT_SOURCE_DIR) + "/device_simulator/samples/" + name;
}

std::string device_binary() { return CGNAT_DEVICE_BIN; }

void read_device_env(const std::string &path, std::string &host,
                     std::string &port, std::string &user,
                     std::string &password) {
  std::istringstream env(read_text(path));
  for (std::string line; std::getline(env, line);) {
    auto equals = line.find('=');
    std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "DEVICE_HOST")
      host = value;
    else if (key == "DEVICE_PORT")
      port = value;
    else if (key == "DEVICE_USER")
      user = value;
    else if (key == "DEVICE_PASSWORD")
      password = value;
    else if (key == "DEVICE_PASSWORD_FILE") // any bytes, line breaks too
      password = read_text(value);
  }
}

SimulatedDevice::SimulatedDevice(const std::vector<std::string> &arguments) {
  std::vector<std::string> words{
      "bash",
      std::string(CGNAT_SOURCE_DIR) + "/device_simulator/start_device.sh",
      "--dir",
      instance_dir(),
      "--binary",
      device_binary()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  RunResult started = run_program(words, bash_options());
  if (started.status != 0)
    throw std::runtime_error("simulated device did not start: " + started.err);
  read_device_env(instance_dir() + "/device.env", host, port, user, password);
}

SimulatedDevice::~SimulatedDevice() {
  run_program(
      {"bash",
       std::string(CGNAT_SOURCE_DIR) + "/device_simulator/stop_device.sh",
       instance_dir()},
      bash_options());
}

std::string SimulatedDevice::sshd_log() const {
  return read_text(instance_dir() + "/sshd.log");
}

std::string SimulatedDevice::public_key() const {
  std::string key = read_text(instance_dir() + "/host_key.pub");
  // "type base64 comment": keep type and key.
  auto second_space = key.find(' ', key.find(' ') + 1);
  return key.substr(0, second_space);
}

PipedDevice::PipedDevice(const std::vector<std::string> &settings) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0)
    throw std::runtime_error("pipe");
  pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    std::vector<std::string> words{device_binary()};
    words.insert(words.end(), settings.begin(), settings.end());
    std::vector<char *> argv;
    for (auto &word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  to = in[1];
  from = out[0];
}

PipedDevice::~PipedDevice() {
  if (to >= 0)
    close(to);
  close(from);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void PipedDevice::send(const std::string &bytes) {
  if (write(to, bytes.data(), bytes.size()) !=
      static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("write to the device failed");
}

bool PipedDevice::read_some(std::string &into, int timeout_ms) {
  into.clear();
  pollfd entry{from, POLLIN, 0};
  if (poll(&entry, 1, timeout_ms) != 1)
    return false;
  char chunk[4096];
  ssize_t got = read(from, chunk, sizeof chunk);
  if (got <= 0)
    throw std::runtime_error("device ended");
  into.assign(chunk, static_cast<size_t>(got));
  return true;
}

std::string PipedDevice::finish() {
  close(to);
  to = -1;
  std::string rest;
  char chunk[4096];
  for (ssize_t got; (got = read(from, chunk, sizeof chunk)) > 0;)
    rest.append(chunk, static_cast<size_t>(got));
  return rest;
}

} // namespace testing_support
