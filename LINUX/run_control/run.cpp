#include "LINUX/collection/collection.hpp"
#include "LINUX/run_control/end_process.hpp"
#include "LINUX/run_control/run_control.hpp"
#include "LINUX/run_control/run_settings.hpp"
#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

namespace cgnat {
namespace {

// What the mode selects, run inside the time bound.
void dispatch() {
  const RunSettings &current = settings();
  if (current.mode == "version")
    get_version();
  if (!current.full_form)
    throw std::invalid_argument(
        "o modo \"" + current.mode +
        "\" exige a forma completa: modo host porta usuário senha "
        "host_zabbix");
  RunSettings completed = current;
  completed.zabbix_server = obtain_zabbix_server();
  completed.zabbix_tls = obtain_zabbix_tls();
  completed.ssh =
      obtain_ssh_options(completed, completed.mode == "discoveryLinux");
  set_settings(completed);
  if (completed.mode == "discoveryLinux")
    discoveryLinux(completed.zabbix_server);
  else if (completed.mode.find(tarn::LAUNCH_MARK) != std::string::npos)
    tarn::launch(completed.mode,
                 {completed.program_name, completed.mode, completed.host,
                  completed.port, completed.user, completed.pwd,
                  completed.zabbix_host},
                 PASSWORD_WORD);
}

} // namespace

std::string obtain_zabbix_server() {
  const char *value = std::getenv(ZABBIX_SERVER_VARIABLE);
  std::string server = value ? value : ZABBIX_SERVER_DEFAULT;
  try {
    tarn::parse_server_address(server);
  } catch (const std::invalid_argument &error) {
    throw std::invalid_argument(std::string(ZABBIX_SERVER_VARIABLE) + ": " +
                                error.what());
  }
  return server;
}

int run(const std::vector<std::string> &words, int runtime_limit) {
  if (words.size() != 2 && words.size() != 7) {
    print_line("Erro crítico -- Contactar " + std::string(SUPPORT_CONTACT));
    return 1;
  }
  RunSettings initial;
  initial.program_name = words[0];
  initial.mode = words[1];
  if (words.size() == 7) {
    initial.full_form = true;
    initial.host = words[2];
    initial.port = words[3];
    initial.user = words[4];
    initial.pwd = words[PASSWORD_WORD];
    initial.zabbix_host = words[6];
  }
  set_settings(initial);

  try {
    auto guard = tarn::runtime_limiter(runtime_limit);
    guard.enter();
    try {
      dispatch();
    } catch (...) {
      if (guard.exit(std::current_exception()))
        return 0;
      throw;
    }
    guard.exit(nullptr);
    return 0;
  } catch (const EndProcess &request) {
    return request.status;
  } catch (const tarn::TimeoutException &timeout) {
    print_line(timeout.what());
    return 0;
  } catch (const std::exception &error) {
    print_error(error.what());
    return 1;
  } catch (...) {
    print_error("erro desconhecido");
    return 1;
  }
}

} // namespace cgnat
