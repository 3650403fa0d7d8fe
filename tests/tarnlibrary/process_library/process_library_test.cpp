// The run-time bound: guarded waits, the guard's scope and the watchdog.
#include "tarnlibrary/process_library/process_library.hpp"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Pipe {
  int fds[2];
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
};

TEST(GuardedWait, RaisesTheBoundsTextOnceTheDeadlinePasses) {
  Pipe silent;
  auto guard = tarn::runtime_limiter(1);
  guard.enter();
  auto start = Clock::now();
  try {
    tarn::wait_for_fd(silent.fds[0], POLLIN, 60'000);
    FAIL() << "the wait outlived the bound";
  } catch (const tarn::TimeoutException &timeout) {
    EXPECT_STREQ(timeout.what(), "Tempo limite de execução excedido (1 s)");
  }
  EXPECT_GE(seconds_since(start), 0.9);
  EXPECT_LT(seconds_since(start), 2.5);
}

TEST(GuardedWait, ReturnsZeroWhenItsOwnCapPassesFirst) {
  Pipe silent;
  auto guard = tarn::runtime_limiter(30);
  guard.enter();
  EXPECT_EQ(tarn::wait_for_fd(silent.fds[0], POLLIN, 50), 0);
}

TEST(GuardedWait, ReportsReadinessAtOnce) {
  Pipe ready;
  ASSERT_EQ(write(ready.fds[1], "x", 1), 1);
  auto start = Clock::now();
  EXPECT_TRUE(tarn::wait_for_fd(ready.fds[0], POLLIN, 10'000) & POLLIN);
  EXPECT_LT(seconds_since(start), 1.0);
}

TEST(RuntimeLimiter, LeavingTheScopeDisarmsTheDeadline) {
  {
    auto guard = tarn::runtime_limiter(0);
    guard.enter();
    EXPECT_THROW(tarn::check_deadline(), tarn::TimeoutException);
    EXPECT_THROW(tarn::wait_budget_ms(1000), tarn::TimeoutException);
    EXPECT_FALSE(guard.exit(std::make_exception_ptr(std::runtime_error("x"))));
  }
  EXPECT_NO_THROW(tarn::check_deadline());
  EXPECT_EQ(tarn::wait_budget_ms(1234), 1234);
}

TEST(RuntimeLimiter, NeverAbsorbsAnError) {
  auto guard = tarn::runtime_limiter(5);
  guard.enter();
  EXPECT_FALSE(guard.exit(std::make_exception_ptr(tarn::TimeoutException(5))));
  EXPECT_FALSE(guard.exit(nullptr));
}

TEST(RuntimeLimiter, BudgetIsShortenedToWhatIsLeft) {
  auto guard = tarn::runtime_limiter(2);
  guard.enter();
  int budget = tarn::wait_budget_ms(60'000);
  EXPECT_LE(budget, 2000);
  EXPECT_GT(budget, 1000);
  EXPECT_EQ(tarn::wait_budget_ms(10), 10);
}

// A wait that ignores the deadline (as a stuck name lookup would) is ended by
// the watchdog: the bound's text on standard output, status 0.
TEST(WatchdogDeathTest, EndsAWaitThatIgnoresTheDeadline) {
  char path[] = "/tmp/cgnat-watchdog-XXXXXX";
  int file = mkstemp(path);
  ASSERT_GE(file, 0);
  auto start = Clock::now();
  EXPECT_EXIT(
      {
        dup2(file, STDOUT_FILENO);
        auto guard = tarn::runtime_limiter(1);
        guard.enter();
        for (;;)
          pause(); // deaf to the deadline
      },
      ::testing::ExitedWithCode(0), "");
  double took = seconds_since(start);
  EXPECT_GE(took, 1 + tarn::WATCHDOG_GRACE_SECONDS - 0.5);
  EXPECT_LT(took, 1 + tarn::WATCHDOG_GRACE_SECONDS + 2.0);
  std::ifstream written(path);
  std::stringstream text;
  text << written.rdbuf();
  EXPECT_EQ(text.str(), "Tempo limite de execução excedido (1 s)\n");
  close(file);
  unlink(path);
}

} // namespace
