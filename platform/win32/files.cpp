#include <windows.h>
#include <bcrypt.h>

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

bool RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::vector<std::string> FileNamesEndingWith(const std::string& directory, const std::string& suffix) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(Widen(directory + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string name = Narrow(std::wstring(found.cFileName));
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name);
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

int64_t SecondsSinceModified(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  FILETIME now_time;
  ::GetSystemTimeAsFileTime(&now_time);
  const auto ticks = [](const FILETIME& t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  const int64_t age = (ticks(now_time) - ticks(data.ftLastWriteTime)) / 10000000;  // 100 ns ticks
  return age > 0 ? age : 0;
}

bool FillRandom(void* buffer, size_t size) {
  return BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
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
