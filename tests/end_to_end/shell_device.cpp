#include "tests/end_to_end/shell_device.hpp"
#include "tests/support/run_binary.hpp"

#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

const std::string SCRIPTS = std::string(CGNAT_SOURCE_DIR) + "/device_shells/";

} // namespace

ShellDevice::ShellDevice(const ShellDeviceOptions &options) {
  std::vector<std::string> words{"bash",
                                 SCRIPTS + "start_shell_device.sh",
                                 "--dir",
                                 instance_dir(),
                                 "--server",
                                 options.server,
                                 "--shell",
                                 options.shell,
                                 "--profile-delay",
                                 options.profile_delay};
  if (options.late_message)
    words.push_back("--late-message");
  if (!options.authorized_key.empty())
    words.insert(words.end(), {"--authorized-key", options.authorized_key});
  RunResult started = run_program(words, bash_options());
  if (started.status != 0) {
    stop(); // a start killed part-way leaves its user behind
    throw std::runtime_error("real-shell device did not start: " + started.err);
  }
  read_device_env(instance_dir() + "/device.env", host, port, user, password);
}

ShellDevice::~ShellDevice() { stop(); }

void ShellDevice::stop() const {
  run_program({"bash", SCRIPTS + "stop_shell_device.sh", instance_dir()},
              bash_options());
}

std::string ShellDevice::server_log() const {
  return read_text(instance_dir() + "/server.log");
}

} // namespace testing_support
