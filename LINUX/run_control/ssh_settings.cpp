// The SSH choices of the run, from the CGNAT_SSH_* variables.
#include "LINUX/run_control/run_control.hpp"
#include "tarnlibrary/ssh_library/private_key.hpp"
#include "tarnlibrary/ssh_library/shell_transcript.hpp"

#include <cstdlib>
#include <stdexcept>

namespace cgnat {
namespace {

constexpr const char *TRANSCRIPT_VARIABLE = "CGNAT_SSH_TRANSCRIPT";
constexpr const char *KNOWN_HOSTS_VARIABLE = "CGNAT_SSH_KNOWN_HOSTS";
constexpr const char *POLICY_VARIABLE = "CGNAT_SSH_HOST_KEY_POLICY";
constexpr const char *KEY_FILE_VARIABLE = "CGNAT_SSH_KEY_FILE";

struct PolicyName {
  const char *name;
  tarn::HostKeyPolicy policy;
};

constexpr PolicyName POLICY_NAMES[] = {
    {"accept", tarn::HostKeyPolicy::Accept},
    {"accept-new", tarn::HostKeyPolicy::AcceptNew},
    {"strict", tarn::HostKeyPolicy::Strict},
};

// Runs `check`, putting the variable's name before what it raises.
template <class Check> auto named(const char *variable, Check check) {
  try {
    return check();
  } catch (const std::runtime_error &error) {
    throw std::invalid_argument(std::string(variable) + ": " + error.what());
  }
}

tarn::HostKeyPolicy host_key_policy(const char *value) {
  if (value == nullptr)
    return tarn::HostKeyPolicy::Accept;
  for (const PolicyName &entry : POLICY_NAMES)
    if (entry.name == std::string(value))
      return entry.policy;
  throw std::invalid_argument(std::string(POLICY_VARIABLE) + ": \"" + value +
                              "\" não é accept, accept-new nem strict");
}

} // namespace

tarn::SshOptions obtain_ssh_options(const RunSettings &run, bool logging_in) {
  tarn::SshOptions options;
  options.host_key_policy = host_key_policy(std::getenv(POLICY_VARIABLE));
  if (const char *file = std::getenv(KNOWN_HOSTS_VARIABLE))
    options.known_hosts = named(KNOWN_HOSTS_VARIABLE, [&] {
      tarn::check_known_hosts_file(file, options.host_key_policy);
      return std::string(file);
    });
  if (const char *folder = std::getenv(TRANSCRIPT_VARIABLE))
    options.transcript = named(TRANSCRIPT_VARIABLE, [&] {
      tarn::check_transcript_folder(folder);
      return logging_in ? std::make_shared<tarn::ShellTranscript>(
                              folder, run.host, run.port)
                        : nullptr;
    });
  if (const char *file = std::getenv(KEY_FILE_VARIABLE)) {
    // Read here, with the password word as its passphrase, so a key that
    // cannot be used stops the run before the device is contacted; a run
    // that only starts another keeps none of it.
    auto key = named(KEY_FILE_VARIABLE, [&] {
      return std::make_shared<tarn::PrivateKey>(file, run.pwd);
    });
    if (logging_in)
      options.key = std::move(key);
  }
  return options;
}

} // namespace cgnat
