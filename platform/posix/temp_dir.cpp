#include <cstdlib>

#include "platform/temp_dir.hpp"

namespace vtsd::platform {

std::string UserTempDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace vtsd::platform
