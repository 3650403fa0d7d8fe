// Process control: the run-wide time bound and the detached background run.
#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tarn {

// Raised by every guarded wait once the run's bound has passed.
class TimeoutException : public std::runtime_error {
public:
  explicit TimeoutException(int seconds);
};

// Scope guard for the run-time bound (seconds). enter() arms the deadline and
// the watchdog; leaving (exit() or destruction) disarms both.
class RuntimeLimiter {
public:
  explicit RuntimeLimiter(int seconds) : seconds_(seconds) {}
  ~RuntimeLimiter();
  RuntimeLimiter(const RuntimeLimiter &) = delete;
  RuntimeLimiter &operator=(const RuntimeLimiter &) = delete;

  void enter();
  // Told how the scope was left; answers whether the error is absorbed.
  // This guard never absorbs one.
  bool exit(std::exception_ptr error) noexcept;

private:
  int seconds_;
  bool armed_ = false;
};

RuntimeLimiter runtime_limiter(int seconds);

// Seconds past the deadline after which the watchdog ends the process.
inline constexpr int WATCHDOG_GRACE_SECONDS = 3;

// Throws TimeoutException when an armed deadline has passed.
void check_deadline();

// Milliseconds a wait may take: cap_ms, shortened to what is left of the
// run's bound. Throws TimeoutException when nothing is left.
int wait_budget_ms(int cap_ms);

// Waits until fd is ready for events (POLLIN/POLLOUT). Returns the revents,
// or 0 when cap_ms passed first. Throws TimeoutException at the deadline and
// std::system_error when poll fails.
short wait_for_fd(int fd, short events, int cap_ms);

// The part of a mode that asks for a background run.
inline constexpr std::string_view LAUNCH_MARK = "launch_";

// What a background run's command line shows in place of the password.
inline constexpr std::string_view SECRET_MASK = "-";

// The environment variable that tells a background run which inherited
// descriptor holds its password.
inline constexpr const char *SECRET_FD_VARIABLE = "CGNAT_PASSWORD_FD";

// Starts a detached copy of this executable with these words (words[0] is
// its name, words[1] the mode) but the mode that follows the first
// "launch_" in mode, and SECRET_MASK in place of words[secret_word]: the
// copy receives that word through an inherited memory file instead. Its
// output goes to the system log. Returns as soon as the copy has started.
void launch(const std::string &mode, std::vector<std::string> words,
            size_t secret_word);

// Starts executable with exactly these words (words[0] is its argv[0]),
// never through a shell, in a new session, stdin from /dev/null, stdout and
// stderr to the system log under identity. With a secret, the run inherits
// a sealed memory file holding it, named by SECRET_FD_VARIABLE. Returns the
// started pid once exec has succeeded; throws std::runtime_error when it
// could not be started.
pid_t spawn_detached(const std::string &executable,
                     const std::vector<std::string> &words,
                     const std::string &identity,
                     const std::string *secret = nullptr);

// Turns core dumps off and makes the process non-dumpable.
void disable_core_dumps();

// Overwrites argv[index] in the process's own argument memory with mask,
// so /proc/PID/cmdline shows the other words unchanged and the mask there.
// An empty word stays as it is.
void hide_word(int argc, char **argv, int index, std::string_view mask);

// In a background run: the password its launcher left on the inherited
// descriptor (read once, descriptor closed, variable removed); nothing
// when the variable is not set.
std::optional<std::string> take_inherited_secret();

} // namespace tarn
