#include "LINUX/run_control/run_control.hpp"

#include <csignal>

int main(int argc, char **argv) {
  // A peer that closes early is an error to report, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
  return cgnat::run(std::vector<std::string>(argv, argv + argc));
}
