// The real binary's time bound and background launch, against a TCP peer
// that accepts connections and never says a word.
#include "tests/support/run_binary.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using testing_support::run_collector;
using testing_support::RunOptions;

namespace {

struct SilentListener {
  int fd = -1;
  int port = 0;
  SilentListener() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address),
              0);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    port = ntohs(address.sin_port);
    EXPECT_EQ(listen(fd, 16), 0);
  }
  ~SilentListener() { close(fd); }
  // True when a connection arrives within seconds (it is accepted and kept
  // open, silent, until the listener goes).
  bool accepts_within(int seconds) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, seconds * 1000) != 1)
      return false;
    accepted.push_back(accept(fd, nullptr, nullptr));
    return accepted.back() >= 0;
  }
  std::vector<int> accepted;
};

TEST(RunTimeBound, EndsASilentDeviceSessionWithItsTextAndStatusZero) {
  SilentListener device;
  RunOptions options;
  options.executable = testing_support::short_bound_collector_path();
  options.env = {{"CGNAT_ZABBIX_SERVER", "127.0.0.1:1"}};
  auto result =
      run_collector({"discoveryLinux", "127.0.0.1", std::to_string(device.port),
                     "monitor", "s3cret-pw", "debug"},
                    options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Tempo limite de execução excedido (" +
                            std::to_string(testing_support::SHORT_BOUND) +
                            " s)\n");
  EXPECT_EQ(result.err, "");
  EXPECT_GE(result.seconds, testing_support::SHORT_BOUND - 0.5);
  EXPECT_LT(result.seconds, testing_support::SHORT_BOUND + 5);
}

TEST(Launch, ReturnsAtOnceWhileTheBackgroundRunGoesOn) {
  SilentListener device;
  RunOptions options;
  options.executable = testing_support::short_bound_collector_path();
  options.env = {{"CGNAT_ZABBIX_SERVER", "127.0.0.1:1"}};
  auto result = run_collector({"launch_discoveryLinux", "127.0.0.1",
                               std::to_string(device.port), "monitor",
                               "s3cret-pw", "debug"},
                              options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  // The external check must not wait for the device; the background run
  // reaches it afterwards.
  EXPECT_LT(result.seconds, 2.0);
  EXPECT_TRUE(device.accepts_within(10));
}

} // namespace
