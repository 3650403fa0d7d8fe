// The detached background run: exact words, no shell, own session.
#include "tarnlibrary/process_library/process_library.hpp"
#include "tests/support/exec_trace.hpp"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/mman.h>
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

// The real binary under strace: every exec of it and of its descendants.
// The run reaching the device and Zabbix is the end-to-end tests' (a
// launched run with a long password).
TEST(Launch, RunsThisExecutableWithTheModeAfterLaunchAndNoShell) {
  TempDir dir;
  testing_support::RunOptions options;
  options.working_directory = dir.path;
  options.env = {{"CGNAT_ZABBIX_SERVER", "127.0.0.1:1"}};
  fs::create_directory(dir.path / "trace");
  auto run = testing_support::run_traced(
      {testing_support::collector_path(), "xlaunch_$(touch x)", "h", "22", "u",
       "pw", "zh"},
      options, (dir.path / "trace").string());
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  ASSERT_EQ(run.execs.size(), 2u) << run.trace;
  std::map<std::string, std::string> execs; // path -> arguments
  for (const auto &exec : run.execs)
    execs[exec.path] = exec.arguments;
  EXPECT_TRUE(execs.count(testing_support::collector_path())) << run.trace;
  EXPECT_EQ(execs["/proc/self/exe"], "\"" + testing_support::collector_path() +
                                         "\", \"$(touch x)\", \"h\", \"22\", "
                                         "\"u\", \"-\", \"zh\"");
  EXPECT_FALSE(fs::exists(dir.path / "x"));
}

// Words laid out as the kernel does, one after the other.
struct ArgumentArea {
  std::string bytes;
  std::vector<char *> argv;
  explicit ArgumentArea(const std::vector<std::string> &words) {
    for (const auto &word : words)
      bytes += word + '\0';
    for (size_t at = 0; at < bytes.size(); at = bytes.find('\0', at) + 1)
      argv.push_back(bytes.data() + at);
  }
};

TEST(HideWord, MasksOnlyThatWordAndZeroesWhatIsLeft) {
  struct Case {
    std::string password, shown;
  } cases[] = {
      {"pw 'q\" $(x);|&\xff", "-"},
      {"x", "-"},
      {std::string(10000, 'p'), "-"},
      {"", ""}, // nothing to hide
  };
  for (const auto &c : cases) {
    std::vector<std::string> words{"prog", "discoveryLinux", "h", "22",
                                   "u",    c.password,       "zh"};
    ArgumentArea area(words);
    size_t size = area.bytes.size();
    tarn::hide_word(7, area.argv.data(), 5, tarn::SECRET_MASK);
    words[5] = c.shown;
    std::string expected = ArgumentArea(words).bytes;
    expected.resize(size, '\0');
    EXPECT_EQ(area.bytes, expected) << c.password.size();
  }
}

TEST(InheritedSecret, ReadOnceFromTheDescriptorThenGone) {
  std::string secret = std::string(10000, 'a') + "\0\xff b";
  int fd = memfd_create("test", 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, secret.data(), secret.size()),
            static_cast<ssize_t>(secret.size()));
  setenv(tarn::SECRET_FD_VARIABLE, std::to_string(fd).c_str(), 1);
  EXPECT_EQ(tarn::take_inherited_secret(), secret);
  EXPECT_EQ(getenv(tarn::SECRET_FD_VARIABLE), nullptr);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "descriptor left open";
  EXPECT_EQ(tarn::take_inherited_secret(), std::nullopt);
  setenv(tarn::SECRET_FD_VARIABLE, "3x", 1);
  EXPECT_THROW(tarn::take_inherited_secret(), std::runtime_error);
}

} // namespace
