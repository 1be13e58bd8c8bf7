#include "link/kept_copies.hpp"

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "link/messages.hpp"
#include "link/terminal_id.hpp"
#include "platform/files.hpp"

namespace vtsd {

namespace {

constexpr const char* kKeptSuffix = ".kept";
// Copies of an earlier version of the driver, which kept one copy for
// whichever terminal came next: they belong to no terminal it can tell.
constexpr const char* kUnmatchedSuffix = ".unsent";

// Removes the copies of other terminals that have waited longer than their
// lifetime.
void RemoveStaleCopies(const std::string& terminal_id) {
  for (const char* suffix : {kKeptSuffix, kUnmatchedSuffix}) {
    for (const std::string& name : platform::FileNamesEndingWith(TempDir(), suffix)) {
      if (!terminal_id.empty() && name.find("." + terminal_id + kKeptSuffix) != std::string::npos) continue;
      const int64_t age = platform::SecondsSinceModified(TempPath(name));
      if (age > kKeptCopyLifetimeSeconds) platform::RemoveFile(TempPath(name));
    }
  }
}

}  // namespace

std::string KeptCopyName(const std::string& local_name, const std::string& terminal_id) {
  return local_name + "." + terminal_id + kKeptSuffix;
}

FetchResult FetchDatabaseFileOrUnsentCopy(TerminalSession& session, const TerminalLocation& where,
                                          const std::string& local_name,
                                          bool (*is_whole)(const std::string& local_name)) {
  const std::string id = TerminalId(session);
  RemoveStaleCopies(id);
  FetchResult result = FetchDatabaseFileIfPresent(session, where, local_name);
  if (result == FetchResult::Missing || result == FetchResult::Empty)
    session.reported_absent.insert(local_name);
  else
    session.reported_absent.erase(local_name);
  if (id.empty()) return result;

  const std::string local_path = TempPath(local_name);
  const std::string copy_path = TempPath(KeptCopyName(local_name, id));
  const bool whole = result == FetchResult::Fetched && is_whole(local_name);
  if (!whole && platform::FileExists(copy_path)) {
    // An empty copy marks a terminal that had no such file.
    std::unique_ptr<platform::File> copy = platform::File::Open(copy_path, platform::File::Mode::Read);
    const bool had_none = copy && copy->Size() == 0;
    copy.reset();
    if (had_none) {
      platform::RemoveFile(local_path);
      return FetchResult::Missing;
    }
    if (platform::CopyFileReplacing(copy_path, local_path)) return FetchResult::Restored;
  }
  // A broken file of the terminal's own, with nothing to restore, is no
  // state to go back to: nothing is kept for it.
  if (result == FetchResult::Fetched && !whole) return result;
  // What the terminal holds before this call changes it.
  const bool kept = result == FetchResult::Fetched ? platform::CopyFileReplacing(local_path, copy_path)
                                                   : platform::WriteWholeFile(copy_path, std::string());
  if (!kept) {
    platform::RemoveFile(copy_path);
    Raise(link_text::kSendReadFailed);
  }
  return result;
}

void UploadKeepingUnsentCopy(TerminalSession& session, const std::string& local_name,
                             const TerminalLocation& where) {
  // The fetch found the terminal without the file: a request answered 0
  // without being done can say so of a file that is there, which the send
  // must not write over. (A broken file of an earlier send, which the fetch
  // saw, is written over.)
  const bool reported_absent = session.reported_absent.count(local_name) != 0;
  UploadDatabaseFile(session, local_name, where, reported_absent);
  session.reported_absent.erase(local_name);
  if (!session.terminal_id.empty()) platform::RemoveFile(TempPath(KeptCopyName(local_name, session.terminal_id)));
}

}  // namespace vtsd
