// Recognising a device that stopped its output at a paging prompt.
#pragma once

#include <string_view>

namespace tarn {

// True when a visible last line is a pager's stop ("--More--", "-- More --",
// " --More-- ", "<--- More --->", "--More-- (q to quit)"...): the device waits
// for a key and will never show its prompt on its own.
bool is_pager_stop(std::string_view visible_last_line);

} // namespace tarn
