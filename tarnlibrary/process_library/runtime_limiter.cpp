#include "tarnlibrary/process_library/process_library.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/time.h>
#include <system_error>
#include <unistd.h>

namespace tarn {
namespace {

using Clock = std::chrono::steady_clock;

// The run's bound, armed once by the run-time guard.
std::optional<Clock::time_point> deadline;
int bound_seconds = 0;

// Prepared before arming: the watchdog may only use async-signal-safe calls.
char watchdog_text[128];
size_t watchdog_length = 0;

std::string timeout_text(int seconds) {
  return "Tempo limite de execução excedido (" + std::to_string(seconds) +
         " s)";
}

extern "C" void watchdog(int) {
  ssize_t ignored = ::write(STDOUT_FILENO, watchdog_text, watchdog_length);
  (void)ignored;
  ::_exit(0);
}

void set_watchdog(int seconds) {
  struct sigaction action {};
  action.sa_handler = seconds > 0 ? watchdog : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  itimerval timer{};
  timer.it_value.tv_sec = seconds;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

} // namespace

TimeoutException::TimeoutException(int seconds)
    : std::runtime_error(timeout_text(seconds)) {}

RuntimeLimiter runtime_limiter(int seconds) { return RuntimeLimiter(seconds); }

void RuntimeLimiter::enter() {
  bound_seconds = seconds_;
  deadline = Clock::now() + std::chrono::seconds(seconds_);
  std::string text = timeout_text(seconds_) + "\n";
  watchdog_length = std::min(text.size(), sizeof watchdog_text);
  std::memcpy(watchdog_text, text.data(), watchdog_length);
  set_watchdog(seconds_ + WATCHDOG_GRACE_SECONDS);
  armed_ = true;
}

bool RuntimeLimiter::exit(std::exception_ptr) noexcept {
  if (armed_) {
    set_watchdog(0);
    deadline.reset();
    armed_ = false;
  }
  return false;
}

RuntimeLimiter::~RuntimeLimiter() { exit(nullptr); }

void check_deadline() {
  if (deadline && Clock::now() >= *deadline)
    throw TimeoutException(bound_seconds);
}

int wait_budget_ms(int cap_ms) {
  if (!deadline)
    return cap_ms;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now())
          .count();
  if (left <= 0)
    throw TimeoutException(bound_seconds);
  return left < cap_ms ? static_cast<int>(left) : cap_ms;
}

short wait_for_fd(int fd, short events, int cap_ms) {
  auto until = Clock::now() + std::chrono::milliseconds(cap_ms);
  for (;;) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now())
            .count();
    if (left <= 0)
      return 0;
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, wait_budget_ms(static_cast<int>(left)));
    if (ready > 0)
      return entry.revents;
    if (ready < 0 && errno != EINTR)
      throw std::system_error(errno, std::generic_category(), "poll");
    check_deadline();
  }
}

} // namespace tarn
