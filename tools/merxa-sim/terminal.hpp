// The terminal application's side of each command: its file system under the
// root directory, open file handles and named values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "options.hpp"
#include "protocol.hpp"

namespace merxa {

// Maps a terminal path ("\" separated, "\" being the root, already decoded to
// UTF-8) to a file under `root`. Refuses the empty path, ".." that would leave
// the root, and components that the host OS would read as a drive or stream
// (a ":" anywhere).
// A file in a directory the terminal names, joined as the driver joins them:
// a directory without its closing separator gets one.
std::string InDirectory(const std::string& directory, const std::string& name);

bool ResolveTerminalPath(const std::filesystem::path& root, const std::string& utf8_path,
                         std::filesystem::path& out);

// The table name the settings file holds for an application version:
// "Merxa_" + 1st + "_" + 3rd + 4th + 5th character; empty when the version is
// shorter than five characters.
std::string SettingsTableName(const std::string& version);

// Creates `file` as a settings database holding the settings table for
// `version` and its rows. False with `error` set on failure.
bool CreateSettingsDatabase(const std::filesystem::path& file, const std::string& version, std::string& error);

class Terminal {
 public:
  explicit Terminal(const Options& options);
  ~Terminal();

  // Makes the root and the directories the terminal names, and the default
  // settings file when it is missing.
  bool Prepare(std::string& error);

  // The reply payload for one well-formed request. `disconnect` becomes true
  // when the request was an accepted "Disconnect". `note` receives a short
  // explanation when the request was refused.
  Bytes Answer(const Request& request, bool& disconnect, std::string& note);

  // Closes every file left open by the driver (at the end of a connection).
  void CloseAll();

  size_t OpenHandles() const { return files_.size(); }

 private:
  struct OpenFile {
    std::filesystem::path path;
    std::fstream stream;
    int64_t read_pos = 0;
    int64_t written = -1;  // -1 until the first WriteFile empties the file
  };

  // Orders.db in OrderDir from --orders or --documents.
  bool PrepareOrders(std::string& error);
  Bytes Number(int32_t value) const { return NumberReply(value, options_.numbers); }
  bool Zeroed(const Request& request, const std::string& argument) const;
  OpenFile* Find(int32_t handle);

  const Options& options_;
  std::filesystem::path root_;
  std::map<int32_t, std::unique_ptr<OpenFile>> files_;
  int32_t next_handle_ = 1;
  Bytes read_buffer_;
};

}  // namespace merxa
