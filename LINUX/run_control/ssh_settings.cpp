// The SSH choices of the run, from the CGNAT_SSH_* variables.
#include "LINUX/run_control/run_control.hpp"
#include "tarnlibrary/ssh_library/shell_transcript.hpp"

#include <cstdlib>
#include <stdexcept>

namespace cgnat {
namespace {

constexpr const char *TRANSCRIPT_VARIABLE = "CGNAT_SSH_TRANSCRIPT";
constexpr const char *KNOWN_HOSTS_VARIABLE = "CGNAT_SSH_KNOWN_HOSTS";
constexpr const char *POLICY_VARIABLE = "CGNAT_SSH_HOST_KEY_POLICY";

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

tarn::SshOptions obtain_ssh_options(const RunSettings &run, bool recording) {
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
      return recording ? std::make_shared<tarn::ShellTranscript>(
                             folder, run.host, run.port)
                       : nullptr;
    });
  return options;
}

} // namespace cgnat
