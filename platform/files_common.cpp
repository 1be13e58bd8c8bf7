// The file services written once over File: copies and whole-file writes.
#include <vector>

#include "platform/files.hpp"

namespace vtsd::platform {

namespace {

// Writes `to` from `fill`; a failure removes what was written.
template <class Fill>
bool WriteReplacing(const std::string& to, Fill&& fill) {
  if (!RemoveFile(to)) return false;
  bool written = false;
  {
    std::unique_ptr<File> out = File::Open(to, File::Mode::CreateNew);
    if (!out) return false;
    written = fill(*out);
  }
  if (!written) RemoveFile(to);
  return written;
}

}  // namespace

bool CopyFileReplacing(const std::string& from, const std::string& to) {
  std::unique_ptr<File> in = File::Open(from, File::Mode::Read);
  if (!in) return false;
  return WriteReplacing(to, [&in](File& out) {
    std::vector<uint8_t> buffer(1 << 16);
    for (;;) {
      const int64_t n = in->Read(buffer.data(), static_cast<int64_t>(buffer.size()));
      if (n < 0) return false;
      if (n == 0) return true;
      if (!out.Write(buffer.data(), n)) return false;
    }
  });
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  return WriteReplacing(path, [&content](File& out) {
    return out.Write(content.data(), static_cast<int64_t>(content.size()));
  });
}

}  // namespace vtsd::platform
