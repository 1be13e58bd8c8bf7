// Copies kept for failed sends, each under the identifier of its terminal.
//
// A file the driver fetches, changes and sends back (Podbor.db,
// MerxaSetup.db) is copied as it was before the call changed it: the
// terminal's own file as fetched, or a mark that the terminal had none. The
// copy is removed once a send of the file completes. A send that fails may
// leave the terminal without the file, or with part of it; the next fetch
// from that terminal then brings back what it held before the failed call,
// so that the call's repeat works as its first try did. A copy is restored
// only to the terminal whose identifier it carries; a terminal's own whole
// file always wins over it; a copy of another terminal that never comes
// back is removed after a week.
#pragma once

#include <string>

#include "link/remote_files.hpp"
#include "link/session.hpp"

namespace vtsd {

// As FetchDatabaseFileIfPresent. When the terminal's file is missing, empty
// or not whole (`is_whole` judges the fetched local file), the copy kept
// for this terminal takes its place: Restored with the file it held, or
// Missing where it had none. What the local file then holds is kept as the
// copy for this call. For a terminal without identifier nothing is kept or
// restored.
FetchResult FetchDatabaseFileOrUnsentCopy(TerminalSession& session, const TerminalLocation& where,
                                          const std::string& local_name,
                                          bool (*is_whole)(const std::string& local_name));

// Sends TempDir + local_name as UploadDatabaseFile does; once the terminal
// has the whole file, the copy kept for it is removed. A failed send keeps
// the copy. When the call's fetch found the terminal without the file, a
// file there with content now is not written over (UploadDatabaseFile's
// only_over_nothing).
void UploadKeepingUnsentCopy(TerminalSession& session, const std::string& local_name,
                             const TerminalLocation& where);

// The name, in TempDir, of the copy of `local_name` kept for the terminal
// with identifier `terminal_id`.
std::string KeptCopyName(const std::string& local_name, const std::string& terminal_id);

// Copies older than this, of any terminal but the one connected, are removed.
constexpr int64_t kKeptCopyLifetimeSeconds = 7 * 24 * 3600;

}  // namespace vtsd
