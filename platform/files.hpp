// Local files. Paths are UTF-8 texts; the Windows layer converts them to
// UTF-16 for the wide file API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vtsd::platform {

bool FileExists(const std::string& path);
// True when the file is gone afterwards (also when it never existed).
bool RemoveFile(const std::string& path);

// Copies a file to `to`, replacing it; on failure nothing of the copy
// remains at `to`.
bool CopyFileReplacing(const std::string& from, const std::string& to);
// Writes `content` as the whole file `path`, replacing it; on failure
// nothing of it remains.
bool WriteWholeFile(const std::string& path, const std::string& content);
// Renames a file within its directory, replacing a file of the new name.
bool RenameFile(const std::string& from, const std::string& to);
// The names of the regular files directly in `directory` (a path ending in
// its separator) whose names end with `suffix`; none when it cannot be read.
std::vector<std::string> FileNamesEndingWith(const std::string& directory, const std::string& suffix);
// How many seconds ago the file was last written; -1 when it cannot be told.
int64_t SecondsSinceModified(const std::string& path);

// Fills `buffer` from the system's random source; false when it cannot.
bool FillRandom(void* buffer, size_t size);

// An open local file; the destructor closes it.
class File {
 public:
  enum class Mode {
    Read,       // existing file, others may read it meanwhile
    CreateNew,  // must not exist; created for writing
  };
  static std::unique_ptr<File> Open(const std::string& path, Mode mode);
  virtual ~File() = default;
  virtual int64_t Size() = 0;
  // Reads up to count bytes; returns the number read (0 at the end), -1 on error.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes all count bytes; false on error.
  virtual bool Write(const void* buffer, int64_t count) = 0;
};

}  // namespace vtsd::platform
