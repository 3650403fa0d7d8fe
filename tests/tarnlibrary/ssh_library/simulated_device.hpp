// Test access to the simulated CGNAT device: one sshd instance per object.
#pragma once

#include "tests/support/run_binary.hpp"

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// How the device scripts are run: bash, bounded to 30 s.
RunOptions bash_options();

// A searchable temporary directory, removed with its contents.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
};

struct SimulatedDevice {
  TempDir dir;
  std::string host, port, user, password;

  // arguments: start_device.sh options and device settings.
  explicit SimulatedDevice(const std::vector<std::string> &arguments = {});
  ~SimulatedDevice();
  SimulatedDevice(const SimulatedDevice &) = delete;
  SimulatedDevice &operator=(const SimulatedDevice &) = delete;

  std::string instance_dir() const { return dir.path + "/device"; }
  std::string sshd_log() const;
  // The device's public host key line ("ssh-ed25519 AAAA...").
  std::string public_key() const;
};

std::string read_text(const std::string &path);
// A started device's device.env: where to log in, and the password (or the
// file holding it).
void read_device_env(const std::string &path, std::string &host,
                     std::string &port, std::string &user,
                     std::string &password);
void write_text(const std::string &path, const std::string &text);
std::string sample_path(const std::string &name); // "summary.txt"
std::string device_binary();

// The device program run directly, its standard input and output on pipes.
struct PipedDevice {
  pid_t pid = -1;
  int to = -1, from = -1;

  explicit PipedDevice(const std::vector<std::string> &settings);
  ~PipedDevice();
  PipedDevice(const PipedDevice &) = delete;
  PipedDevice &operator=(const PipedDevice &) = delete;
  void send(const std::string &bytes);
  // Sets `into` to the next bytes, or returns false after timeout_ms of
  // quiet; throws once the device has ended.
  bool read_some(std::string &into, int timeout_ms);
  // Ends its input and returns everything it still writes.
  std::string finish();
};

} // namespace testing_support
