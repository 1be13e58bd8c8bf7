// The simulator's run: connect to the driver, serve its requests, apply the
// faults asked for, log every request, reconnect when asked to.
#pragma once

#include <ostream>

#include "options.hpp"

namespace merxa {

// Exit statuses of a run.
enum ExitStatus {
  kExitDisconnected = 0,   // the last connection ended with "Disconnect"
  kExitNoConnection = 1,   // no connection within the connect time-out
  kExitSetupFailed = 2,    // bad arguments, root or log file
  kExitConnectionLost = 3, // the last connection ended some other way
};

// Runs the simulator with parsed options; messages go to `err`.
int RunSimulator(const Options& options, std::ostream& err);

}  // namespace merxa
