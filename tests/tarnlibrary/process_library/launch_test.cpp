// The detached background run: exact words, no shell, own session.
#include "tarnlibrary/process_library/process_library.hpp"
#include "tests/support/run_binary.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string hex(const std::string &word) {
  static const char *digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : word) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

struct TempDir {
  fs::path path;
  TempDir() {
    char name[] = "/tmp/cgnat-launch-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { fs::remove_all(path); }
};

// Waits (bounded) until the detached child has written its record.
std::string wait_for_record(const fs::path &file) {
  for (int i = 0; i < 500; ++i) {
    std::string text = read_file(file);
    if (text.find("stdin-null=") != std::string::npos)
      return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return read_file(file);
}

TEST(SpawnDetached, StartsExactlyTheseWordsInItsOwnSession) {
  TempDir dir;
  fs::path record = dir.path / "record";
  setenv("ARGV_RECORDER_FILE", record.c_str(), 1);
  std::vector<std::string> words{"cgnat-collector", "$(touch x)", "",
                                 "a b;c|d",         "'\"`",       "día"};
  pid_t pid = tarn::spawn_detached(ARGV_RECORDER_BIN, words, "test");
  EXPECT_GT(pid, 0);
  std::string expected;
  for (const auto &word : words)
    expected += "arg=" + hex(word) + "\n";
  expected += "session-leader=1\nstdin-null=1\n";
  EXPECT_EQ(wait_for_record(record), expected);
  unsetenv("ARGV_RECORDER_FILE");
}

TEST(SpawnDetached, ReportsAnExecutableThatCannotRun) {
  try {
    tarn::spawn_detached("/nonexistent/cgnat-collector", {"x"}, "test");
    FAIL() << "no error for a missing executable";
  } catch (const std::runtime_error &error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent/cgnat-collector"),
              std::string::npos)
        << error.what();
  }
}

// The real binary under strace: every exec of it and of its descendants,
// which strace follows until the detached run has ended too.
TEST(Launch, RunsThisExecutableWithTheModeAfterLaunchAndNoShell) {
  TempDir dir;
  fs::path trace = dir.path / "trace";
  testing_support::RunOptions options;
  options.executable = "/usr/bin/strace";
  options.working_directory = dir.path;
  // LeakSanitizer cannot run under ptrace.
  options.env = {{"CGNAT_ZABBIX_SERVER", "127.0.0.1:1"},
                 {"ASAN_OPTIONS", "detect_leaks=0"}};
  // -ff: one file per process, so no line is split by another's.
  auto result = testing_support::run_program(
      {"strace", "-f", "-ff", "-qq", "-s", "256", "-e", "trace=execve", "-o",
       trace.string(), testing_support::collector_path(), "xlaunch_$(touch x)",
       "h", "22", "u", "pw", "zh"},
      options);
  ASSERT_EQ(result.status, 0) << result.err;
  std::regex exec_line(R"re(execve\("([^"]*)", \[(.*)\], .*= 0$)re");
  std::map<std::string, std::string> execs; // path -> arguments
  std::string all;
  size_t count = 0;
  for (const auto &entry : fs::directory_iterator(dir.path)) {
    std::string text = read_file(entry.path());
    all += text;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (std::regex_search(line, match, exec_line)) {
        execs[match[1]] = match[2];
        ++count;
      }
    }
  }
  ASSERT_EQ(count, 2u) << all;
  EXPECT_TRUE(execs.count(testing_support::collector_path())) << all;
  EXPECT_EQ(execs["/proc/self/exe"], "\"" + testing_support::collector_path() +
                                         "\", \"$(touch x)\", \"h\", \"22\", "
                                         "\"u\", \"pw\", \"zh\"");
  EXPECT_FALSE(fs::exists(dir.path / "x"));
}

} // namespace
