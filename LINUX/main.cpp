#include "LINUX/run_control/run_control.hpp"

int main(int argc, char **argv) { return cgnat::run_process(argc, argv); }
