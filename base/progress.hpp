// Progress of the files that move between the driver and the terminal. A host
// that wants to show it (the command line) installs a hook; by default there
// is none and nothing is reported. 1C installs nothing and is told nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vtsd {

struct TransferProgress {
  enum class Direction { ToTerminal, FromTerminal };
  Direction direction = Direction::ToTerminal;
  std::string file;   // the local file's name, e.g. "Merxa.db"
  int64_t done = 0;   // bytes moved so far
  int64_t total = 0;  // bytes of the whole file
};

using ProgressHook = std::function<void(const TransferProgress&)>;

// Installs the hook (an empty one removes it). Called on the host's thread,
// between calls.
void SetProgressHook(ProgressHook hook);

// Reports one step of a transfer to the hook, if any. A hook that throws is
// ignored: showing progress never fails a transfer.
void ReportTransferProgress(const TransferProgress& progress);

}  // namespace vtsd
