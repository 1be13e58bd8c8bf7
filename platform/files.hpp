// Local files. Paths are UTF-8 texts; the Windows layer converts them to
// UTF-16 for the wide file API.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vtsd::platform {

bool FileExists(const std::string& path);
// True when the file is gone afterwards (also when it never existed).
bool RemoveFile(const std::string& path);

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
