// Files on the terminal: the query of a named value, single requests on a
// terminal path, an open terminal file that is always closed again, and the
// upload and download of one whole file by its place on the terminal. A file
// moves one piece at a time. Which file lives where is the features' own
// knowledge: they name the place.
#pragma once

#include <cstdint>
#include <string>

#include "link/session.hpp"

namespace vtsd {

// Pieces never exceed this many bytes whatever the terminal's packet size, so
// an absurd "GetHrpMaxBuffer" answer cannot make the driver reserve it.
constexpr int32_t kLargestPiece = 1 << 20;

// "GetFuture": the text named by key; a text of 1 byte or less fails.
std::string QueryTerminalValue(TerminalSession& session, const std::string& key);

bool RemoteFileExists(TerminalSession& session, const std::string& path);
bool DeleteRemoteFile(TerminalSession& session, const std::string& path);
bool CreateRemoteFile(TerminalSession& session, const std::string& path);

// A file opened on the terminal ("OpenFile"). "CloseFile" is sent when it
// goes, on every path, as long as the session can still exchange.
class RemoteFile {
 public:
  RemoteFile(TerminalSession& session, const std::string& path);
  ~RemoteFile();
  RemoteFile(const RemoteFile&) = delete;
  RemoteFile& operator=(const RemoteFile&) = delete;

  int32_t handle() const { return handle_; }
  // Sends "CloseFile" now; its answer does not change the outcome.
  void Close();

 private:
  TerminalSession& session_;
  int32_t handle_ = 0;
  bool open_ = false;
};

// Where a file lives on the terminal: the directory the terminal names for
// `directory_key` (asked when the transfer starts), or else the fixed
// `directory` ("" for the terminal's current directory, "\" for its root),
// then the file's name.
struct TerminalLocation {
  std::string directory_key;
  std::string directory;
  std::string name;
};

// Sends TempDir + local_name to the terminal. Everything that can be checked
// locally, and the terminal's packet size, is checked before the terminal's
// file is touched; a transfer that fails after that deletes the partial
// file on the terminal while the session can still exchange.
void UploadDatabaseFile(TerminalSession& session, const std::string& local_name,
                        const TerminalLocation& where);

// Fetches a terminal file into TempDir + local_name. A file missing on the
// terminal fails with the missing-file message, an empty one with the
// file-size message; a failed transfer leaves no partial local file.
void DownloadDatabaseFile(TerminalSession& session, const TerminalLocation& where,
                          const std::string& local_name);

// Sends TempDir + local_name as UploadDatabaseFile does, keeping a copy of
// it (TempDir + UnsentCopyName) until the terminal has the whole file. A send
// that fails after the terminal's file was touched may leave the terminal
// without the file, or with part of it: the copy is what it should hold, for
// the next fetch to fall back on.
void UploadKeepingUnsentCopy(TerminalSession& session, const std::string& local_name,
                             const TerminalLocation& where);
std::string UnsentCopyName(const std::string& local_name);

enum class FetchResult {
  Fetched,   // the terminal's file is in TempDir
  Missing,   // the terminal has no such file
  Empty,     // the terminal's file has no byte
  Restored,  // the unsent copy of an earlier send took the terminal's place
};
// As DownloadDatabaseFile, but a file that is missing or empty on the
// terminal is reported instead of failing (no local file is made then).
FetchResult FetchDatabaseFileIfPresent(TerminalSession& session, const TerminalLocation& where,
                                       const std::string& local_name);
// As FetchDatabaseFileIfPresent, for a file sent with UploadKeepingUnsentCopy:
// when the terminal's file is missing, empty or not whole (`is_whole` judges
// the fetched local file), the copy an earlier send did not finish takes its
// place (Restored). A whole file of the terminal's own drops that copy.
FetchResult FetchDatabaseFileOrUnsentCopy(TerminalSession& session, const TerminalLocation& where,
                                          const std::string& local_name,
                                          bool (*is_whole)(const std::string& local_name));

}  // namespace vtsd
