#include "LINUX/run_control/run_settings.hpp"

#include <utility>

namespace cgnat {
namespace {
RunSettings current;
}

const RunSettings &settings() { return current; }
void set_settings(RunSettings value) { current = std::move(value); }

} // namespace cgnat
