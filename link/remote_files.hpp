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
//
// With `only_over_nothing`, the terminal's file is expected to be missing or
// empty (the call's fetch found it so): a file there with content is the
// terminal's own, which the fetch did not see, and the send ends with the
// "file appeared" message before anything of it is touched.
void UploadDatabaseFile(TerminalSession& session, const std::string& local_name,
                        const TerminalLocation& where, bool only_over_nothing = false);

// Fetches a terminal file into TempDir + local_name. A file missing on the
// terminal fails with the missing-file message, an empty one with the
// file-size message; a failed transfer leaves no partial local file.
void DownloadDatabaseFile(TerminalSession& session, const TerminalLocation& where,
                          const std::string& local_name);

enum class FetchResult {
  Fetched,   // the terminal's file is in TempDir
  Missing,   // the terminal has no such file
  Empty,     // the terminal's file has no byte
  Restored,  // the copy kept for a failed send took the terminal's place (kept_copies.hpp)
};
// As DownloadDatabaseFile, but a file that is missing or empty on the
// terminal is reported instead of failing (no local file is made then).
FetchResult FetchDatabaseFileIfPresent(TerminalSession& session, const TerminalLocation& where,
                                       const std::string& local_name);
// Reads a small terminal file into `content`: false when the terminal has
// no such file, or one longer than `largest` bytes (which is then not read).
bool ReadSmallTerminalFile(TerminalSession& session, const TerminalLocation& where, int32_t largest,
                           std::string& content);

}  // namespace vtsd
