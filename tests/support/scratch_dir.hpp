// A fresh empty directory that is the driver's TempDir while it lives.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include "base/temp_dir.hpp"

namespace vtsd::test {

class ScratchTempDir {
 public:
  ScratchTempDir() : previous_(TempDir()) {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("vtsd-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
    SetTempDir(path_.string() + "/");
  }
  // Tests may have taken the directory's permissions away; they come back
  // first so that everything in it can go.
  ~ScratchTempDir() {
    SetTempDir(previous_);
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchTempDir(const ScratchTempDir&) = delete;
  ScratchTempDir& operator=(const ScratchTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
  std::string previous_;
};

}  // namespace vtsd::test
