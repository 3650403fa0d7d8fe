// Runs a program as a child process and captures what it did.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct RunResult {
  int status = -1;        // exit status, or -1 when killed by a signal
  bool timed_out = false; // killed after the time limit
  std::string out;        // standard output
  std::string err;        // standard error
  double seconds = 0;     // wall time from start to exit
};

struct RunOptions {
  std::string executable; // path to execute; argv[0] is separate
  double time_limit = 60; // seconds before the child is killed
  // Environment changes: a value sets the variable, nullopt removes it.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  std::string working_directory; // empty: the current one
};

// words[0] becomes argv[0]; the child's stdin is /dev/null.
RunResult run_program(const std::vector<std::string> &words,
                      const RunOptions &options);

// The collector built with the normal bound.
inline std::string collector_path() { return CGNAT_COLLECTOR_BIN; }
// The same collector with a short bound (CGNAT_SHORT_BOUND seconds).
inline std::string short_bound_collector_path() {
  return CGNAT_SHORT_BOUND_BIN;
}
inline constexpr int SHORT_BOUND = CGNAT_SHORT_BOUND;

// Runs the collector with these words after its name.
RunResult run_collector(const std::vector<std::string> &arguments,
                        RunOptions options = {});

} // namespace testing_support
