// Runs a program under strace and lists every exec of it and of its
// descendants, detached ones included: strace follows them until they end.
#pragma once

#include "tests/support/run_binary.hpp"

#include <string>
#include <vector>

namespace testing_support {

struct Exec {
  std::string path;
  std::string arguments; // as strace prints them: "a", "b c"
};

struct TracedRun {
  RunResult result;
  std::vector<Exec> execs; // the successful ones
  std::string trace;       // all of strace's lines, for failure messages
};

// words[0] is the program's path; the trace files go to an empty directory
// of its own, trace_dir.
TracedRun run_traced(const std::vector<std::string> &words, RunOptions options,
                     const std::string &trace_dir);

} // namespace testing_support
