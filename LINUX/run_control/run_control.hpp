// Entry: command line, run-time bound, dispatch and exit status.
#pragma once

#include "LINUX/run_control/console.hpp"
#include "LINUX/run_control/run_settings.hpp"
#include "tarnlibrary/zabbix_library/zabbix_tls.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace cgnat {

inline constexpr const char *ZABBIX_SERVER_VARIABLE = "CGNAT_ZABBIX_SERVER";
inline constexpr const char *ZABBIX_SERVER_DEFAULT = "127.0.0.1";

// Where the password stands among the seven words (program name first).
inline constexpr size_t PASSWORD_WORD = 5;

// The process's command-line words, the password among them; turns core
// dumps off, masks the password in the argument memory and, in a background
// run, takes it from the descriptor its launcher left. Throws
// std::runtime_error when that descriptor cannot be read.
std::vector<std::string> take_command_line(int argc, char **argv);

// main: the command line taken as above, then the run; the exit status.
int run_process(int argc, char **argv, int runtime_limit = RUNTIME_LIMIT);

// The whole run for these command-line words (program name first); returns
// the exit status.
int run(const std::vector<std::string> &words,
        int runtime_limit = RUNTIME_LIMIT);

// Prints the version banner and ends the process with status 0.
[[noreturn]] void get_version();

// The Zabbix server address of this run, checked.
std::string obtain_zabbix_server();

// The encryption towards Zabbix from the CGNAT_ZABBIX_TLS_* variables, read
// and checked with every file they name.
tarn::ZabbixTls obtain_zabbix_tls();

// The SSH choices from the CGNAT_SSH_* variables, checked with every file
// they name; the run's transcript is created, and its key kept, only when
// `logging_in` (not in a run that starts another).
tarn::SshOptions obtain_ssh_options(const RunSettings &run, bool logging_in);

} // namespace cgnat
