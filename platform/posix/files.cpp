#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/files.hpp"

namespace vtsd::platform {

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return true;
  return errno == ENOENT;
}

bool RenameFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

std::vector<std::string> FileNamesEndingWith(const std::string& directory, const std::string& suffix) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        FileExists(directory + name)) {
      names.push_back(name);
    }
  }
  ::closedir(dir);
  return names;
}

int64_t SecondsSinceModified(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  const std::time_t now = std::time(nullptr);
  return now >= st.st_mtime ? static_cast<int64_t>(now - st.st_mtime) : 0;
}

bool FillRandom(void* buffer, size_t size) {
  // getentropy gives at most 256 bytes a call.
  auto* p = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const size_t n = size < 256 ? size : 256;
    if (::getentropy(p, n) != 0) return false;
    p += n;
    size -= n;
  }
  return true;
}

namespace {
class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  int64_t Size() override {
    struct stat st;
    return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  }
  int64_t Read(void* buffer, int64_t count) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(count));
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }
  bool Write(const void* buffer, int64_t count) override {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
      const ssize_t n = ::write(fd_, p, static_cast<size_t>(count));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      count -= n;
    }
    return true;
  }

 private:
  int fd_;
};
}  // namespace

std::unique_ptr<File> File::Open(const std::string& path, Mode mode) {
  int fd = -1;
  if (mode == Mode::Read) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      fd = -1;
    }
  } else {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  }
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFile>(fd);
}

}  // namespace vtsd::platform
