#include "base/temp_dir.hpp"

namespace vtsd {

namespace {
std::string g_temp_dir;
}

const std::string& TempDir() { return g_temp_dir; }
void SetTempDir(std::string directory_with_separator) {
  g_temp_dir = std::move(directory_with_separator);
}
std::string TempPath(const std::string& file_name) { return g_temp_dir + file_name; }

}  // namespace vtsd
