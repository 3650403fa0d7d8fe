#pragma once

namespace cgnat {

// A request to end the process with a status. It unwinds to main on
// purpose: it is no std::exception, so no handler for ordinary failures
// catches it.
struct EndProcess {
  int status;
};

} // namespace cgnat
