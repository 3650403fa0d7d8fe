// The collector with a bound of a few seconds, so tests can watch it expire.
#include "LINUX/run_control/run_control.hpp"

int main(int argc, char **argv) {
  return cgnat::run_process(argc, argv, CGNAT_SHORT_BOUND);
}
