#include "LINUX/zabbix_output/item_sender.hpp"

#include "LINUX/run_control/console.hpp"
#include "LINUX/run_control/run_settings.hpp"
#include "LINUX/zabbix_output/zabbix_output.hpp"
#include "tarnlibrary/process_library/process_library.hpp"
#include "tarnlibrary/zabbix_library/zabbix_library.hpp"

#include <exception>

namespace cgnat {

void deliver_item(const Delivery &deliver, const std::string &chave,
                  const std::string &item) {
  const RunSettings &current = settings();
  try {
    deliver(current.zabbix_server, current.zabbix_host, chave, item);
  } catch (const tarn::TimeoutException &) {
    throw; // the run's bound ends the run, not just this item
  } catch (const std::exception &failure) {
    print_line(std::string(DELIVERY_FAILURE_TEXT) + failure.what());
  }
}

void sendZabbix(const std::string &chave, const std::string &item,
                tarn::ZabbixRoute &route) {
  deliver_item(
      [&route](const std::string &server, const std::string &host,
               const std::string &key, const std::string &value) {
        tarn::send_zabbix(server, host, key, value, settings().zabbix_tls,
                          route);
      },
      chave, item);
}

void sendZabbix(const std::string &chave, const std::string &item) {
  tarn::ZabbixRoute route; // a redirect is followed for this value alone
  sendZabbix(chave, item, route);
}

ItemSender zabbix_item_sender() {
  // Where a proxy group redirected the run, the run's later values go
  // directly: one redirect per run, not one per value.
  return [route = tarn::ZabbixRoute()](const std::string &chave,
                                       const std::string &item) mutable {
    sendZabbix(chave, item, route);
  };
}

} // namespace cgnat
