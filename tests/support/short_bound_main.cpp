// The collector with a bound of a few seconds, so tests can watch it expire.
#include "LINUX/run_control/run_control.hpp"

#include <csignal>

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN);
  return cgnat::run(std::vector<std::string>(argv, argv + argc),
                    CGNAT_SHORT_BOUND);
}
