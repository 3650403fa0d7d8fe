// A CGNAT device whose login shell is a real shell, behind a real SSH
// server: device_shells/start_shell_device.sh, one instance per object.
#pragma once

#include "tests/tarnlibrary/ssh_library/simulated_device.hpp"

#include <string>

namespace testing_support {

struct ShellDeviceOptions {
  std::string server;              // "sshd" or "dropbear"
  std::string shell;               // bash, zsh, dash, ash, mksh, fish or tcsh
  std::string profile_delay = "0"; // seconds the startup file sleeps
  bool late_message = false;       // a line 0.3 s after the first prompt
  std::string authorized_key = {}; // a public key file the user accepts
};

struct ShellDevice {
  TempDir dir;
  std::string host, port, user, password;

  explicit ShellDevice(const ShellDeviceOptions &options);
  ~ShellDevice();
  ShellDevice(const ShellDevice &) = delete;
  ShellDevice &operator=(const ShellDevice &) = delete;

  std::string instance_dir() const { return dir.path + "/device"; }
  std::string server_log() const;
  // The server's public host key, as ssh-keygen writes a .pub file.
  std::string host_key_file() const { return instance_dir() + "/host_key.pub"; }

private:
  void stop() const;
};

} // namespace testing_support
