// The item sender's rule, apart from the component it calls.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace cgnat {

inline constexpr std::string_view DELIVERY_FAILURE_TEXT =
    "Ocorreu um erro ao enviar os itens para o zabbix ";

using Delivery = std::function<void(
    const std::string &zabbix_server, const std::string &zabbix_host,
    const std::string &chave, const std::string &item)>;

// Hands one value to deliver with the run's server and host; an ordinary
// failure becomes one line on standard output. The run's timeout and a
// request to end the process pass through.
void deliver_item(const Delivery &deliver, const std::string &chave,
                  const std::string &item);

} // namespace cgnat
