#include "platform/posix/x11_library.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

namespace vtsd::platform::x11 {

namespace {

void* OpenFirst(const char* const* names) {
  for (const char* const* name = names; *name != nullptr; ++name) {
    if (void* handle = ::dlopen(*name, RTLD_NOW | RTLD_LOCAL)) return handle;
  }
  return nullptr;
}

template <typename Function>
bool Resolve(void* library, const char* name, Function& target) {
  target = reinterpret_cast<Function>(::dlsym(library, name));
  return target != nullptr;
}

bool LoadInto(Library& x) {
  static const char* const kX11[] = {"libX11.so.6", "libX11.so", nullptr};
  static const char* const kXft[] = {"libXft.so.2", "libXft.so", nullptr};
  void* x11 = OpenFirst(kX11);
  if (x11 == nullptr) return false;
  void* xft = OpenFirst(kXft);
  if (xft == nullptr) return false;
  bool all = true;
#define VTSD_X11_RESOLVE(name) all = Resolve(x11, #name, x.name) && all;
  VTSD_X11_FUNCTIONS(VTSD_X11_RESOLVE)
#undef VTSD_X11_RESOLVE
#define VTSD_XFT_RESOLVE(name) all = Resolve(xft, #name, x.name) && all;
  VTSD_XFT_FUNCTIONS(VTSD_XFT_RESOLVE)
#undef VTSD_XFT_RESOLVE
  // The handles are kept: the functions are used for the process's life.
  return all;
}

}  // namespace

const Library* Load() {
  static Library library;
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] { loaded = LoadInto(library); });
  return loaded ? &library : nullptr;
}

Display* OpenDisplay(const Library& x) {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return nullptr;
  return x.XOpenDisplay(name);
}

}  // namespace vtsd::platform::x11
