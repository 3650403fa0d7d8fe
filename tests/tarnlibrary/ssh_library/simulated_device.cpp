#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"
#include "tests/support/run_binary.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace testing_support {
namespace {

RunOptions bash_options() {
  RunOptions options;
  options.executable = "/bin/bash";
  options.time_limit = 30;
  return options;
}

} // namespace

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
  std::istringstream env(read_text(instance_dir() + "/device.env"));
  std::string line;
  while (std::getline(env, line)) {
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
  }
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

} // namespace testing_support
