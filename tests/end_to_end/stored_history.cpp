#include "tests/end_to_end/stored_history.hpp"
#include "tests/support/run_binary.hpp"
#include "tests/support/zabbix_server.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace testing_support {

std::vector<std::string> stored_for(const std::string &host) {
  std::string union_all;
  for (const char *table :
       {"history", "history_str", "history_uint", "history_text"})
    union_all += std::string(union_all.empty() ? "" : " UNION ALL ") +
                 "SELECT itemid, clock, ns, value::text AS value FROM " + table;
  return testing_support::query(
      zabbix_server(),
      "SELECT i.key_ || '|' || v.value FROM (" + union_all +
          ") v JOIN items i USING (itemid) JOIN hosts h USING (hostid) "
          "WHERE h.host=" +
          testing_support::sql_text(host) +
          " ORDER BY v.clock, v.ns, v.itemid");
}

void wait_until_history_settles() {
  static int serial = 0;
  std::string marker = std::to_string(
      std::chrono::system_clock::now().time_since_epoch().count() / 1000 +
      ++serial);
  testing_support::RunOptions options;
  options.executable = "/usr/bin/zabbix_sender";
  auto sent = testing_support::run_program(
      {"zabbix_sender", "-z", "127.0.0.1", "-p", zabbix_server().trapper_port,
       "-s", "cgnat-ready", "-k", "ready", "-o", marker},
      options);
  ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    auto values = testing_support::history_values(zabbix_server(),
                                                  "cgnat-ready", "ready");
    if (std::find(values.begin(), values.end(), marker) != values.end())
      return;
    ASSERT_LT(std::chrono::steady_clock::now(), end)
        << "o servidor não gravou o marcador em 20 s";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

} // namespace testing_support
