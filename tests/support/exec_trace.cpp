#include "tests/support/exec_trace.hpp"

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace testing_support {

TracedRun run_traced(const std::vector<std::string> &words, RunOptions options,
                     const std::string &trace_dir) {
  namespace fs = std::filesystem;
  options.executable = "/usr/bin/strace";
  // LeakSanitizer cannot run under ptrace.
  options.env.emplace_back("ASAN_OPTIONS", "detect_leaks=0");
  // -ff: one file per process, so no line is split by another's.
  std::vector<std::string> traced{
      "strace", "-f", "-ff",          "-qq", "-s",
      "256",    "-e", "trace=execve", "-o",  trace_dir + "/trace"};
  traced.insert(traced.end(), words.begin(), words.end());
  TracedRun run;
  run.result = run_program(traced, options);
  std::regex exec_line(R"re(execve\("([^"]*)", \[(.*)\], .*= 0$)re");
  for (const auto &entry : fs::directory_iterator(trace_dir)) {
    std::ifstream file(entry.path());
    for (std::string line; std::getline(file, line);) {
      run.trace += line + "\n";
      std::smatch match;
      if (std::regex_search(line, match, exec_line))
        run.execs.push_back({match[1], match[2]});
    }
  }
  return run;
}

} // namespace testing_support
