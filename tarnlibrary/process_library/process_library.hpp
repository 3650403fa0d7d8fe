// Process control: the run-wide time bound and the detached background run.
#pragma once

#include <exception>
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

// Starts a detached copy of this executable with the same command line but
// the mode that follows the first "launch_" in mode; its output goes to the
// system log. Returns as soon as the copy has been started.
void launch(const std::string &mode);

// Starts executable with exactly these words (words[0] is its argv[0]),
// never through a shell, in a new session, stdin from /dev/null, stdout and
// stderr to the system log under identity. Returns the started pid once exec
// has succeeded; throws std::runtime_error when it could not be started.
pid_t spawn_detached(const std::string &executable,
                     const std::vector<std::string> &words,
                     const std::string &identity);

} // namespace tarn
