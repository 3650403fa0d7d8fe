// What a host's history holds on the test's Zabbix server.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// "key|value" of every value stored for host, in arrival order.
std::vector<std::string> stored_for(const std::string &host);

// Returns once everything the server received so far is in the history
// tables: a fresh value sent now is written no earlier than those.
void wait_until_history_settles();

} // namespace testing_support
