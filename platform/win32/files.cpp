#include <windows.h>

#include <algorithm>

#include "platform/files.hpp"
#include "platform/win32/wide.hpp"

namespace vtsd::platform {

bool FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const std::string& path) {
  if (::DeleteFileW(Widen(path).c_str())) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

namespace {

// ReadFile and WriteFile take 32-bit counts; larger requests go in pieces.
constexpr int64_t kMaxChunk = 1 << 30;

class Win32File : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { ::CloseHandle(handle_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  int64_t Size() override {
    LARGE_INTEGER size;
    return ::GetFileSizeEx(handle_, &size) ? static_cast<int64_t>(size.QuadPart) : -1;
  }

  int64_t Read(void* buffer, int64_t count) override {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min(count, kMaxChunk));
    if (!::ReadFile(handle_, buffer, want, &got, nullptr)) return -1;
    return got;
  }

  bool Write(const void* buffer, int64_t count) override {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min(count, kMaxChunk));
      if (!::WriteFile(handle_, p, chunk, &written, nullptr) || written == 0) return false;
      p += written;
      count -= written;
    }
    return true;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<File> File::Open(const std::string& path, Mode mode) {
  const std::wstring wide = Widen(path);
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (mode == Mode::Read) {
    handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(handle);
}

}  // namespace vtsd::platform
