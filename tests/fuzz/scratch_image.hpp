// A scratch TempDir in memory (tmpfs when the machine has one) holding one
// database file that every run starts from: the file is built once, its
// bytes kept, and each run writes them back. A run then costs what its input
// costs, not the building of an empty database.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/temp_dir.hpp"

namespace vtsd::fuzz {

class ScratchImage {
 public:
  // Makes the scratch directory TempDir, runs `build` to create `file_name`
  // in it and keeps the file's bytes.
  template <class Build>
  ScratchImage(const char* tag, const char* file_name, Build&& build) : file_name_(file_name) {
    std::string pattern = std::string(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") +
                          "/vtsd-fuzz-" + tag + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    dir_ = pattern + "/";
    SetTempDir(dir_);
    build();
    std::ifstream in(dir_ + file_name_, std::ios::binary);
    image_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (image_.empty()) std::abort();
  }

  // Puts the file back as it was built; a journal a failed run left goes.
  void Restore() const {
    std::FILE* file = std::fopen((dir_ + file_name_).c_str(), "wb");
    if (file == nullptr || std::fwrite(image_.data(), 1, image_.size(), file) != image_.size()) std::abort();
    std::fclose(file);
    std::remove((dir_ + file_name_ + "-journal").c_str());
  }

 private:
  std::string file_name_;
  std::string dir_;
  std::string image_;
};

}  // namespace vtsd::fuzz
