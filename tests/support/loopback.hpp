// Loopback ports for tests.
#pragma once

#include <string>

namespace testing_support {

// A loopback port that was free a moment ago and has no listener:
// connections to it are refused at once.
std::string closed_port();

} // namespace testing_support
