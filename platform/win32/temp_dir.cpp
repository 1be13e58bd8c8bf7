#include <windows.h>

#include <vector>

#include "platform/temp_dir.hpp"
#include "platform/win32/wide.hpp"

namespace vtsd::platform {

std::string UserTempDirectory() {
  // MAX_PATH characters cover the usual case; a longer path is read again
  // with the size the first call asks for rather than cut.
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD n = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (n == 0 || n >= buffer.size()) return std::string();
  std::string dir = Narrow(buffer.data(), n);
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

}  // namespace vtsd::platform
