// The five functions a Native API library exports, by their C names.
#include "hosts/native/abi.hpp"
#include "hosts/native/native_object.hpp"

#if defined(_WIN32)
#define VTSD_EXPORT extern "C" __declspec(dllexport)
#else
#define VTSD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using vtsd::native::NativeChar;
using vtsd::native::NativeFaces;

namespace {

vtsd::native::AppCapabilities g_capabilities = vtsd::native::kAppCapabilitiesInvalid;

bool SameText(const NativeChar* a, const NativeChar* b) {
  if (a == nullptr) return false;
  for (; *a != 0 && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

}  // namespace

VTSD_EXPORT const NativeChar* GetClassNames() { return vtsd::native::kClassName; }

// Non-zero with the new object in *object; 0 for another class name, an
// object slot already filled, or no memory.
VTSD_EXPORT long GetClassObject(const NativeChar* name, NativeFaces** object) {
  if (object == nullptr || *object != nullptr || !SameText(name, vtsd::native::kClassName)) return 0;
  *object = vtsd::native::CreateNativeObject();
  return *object != nullptr ? 1 : 0;
}

// 0 once the object is gone; -1 when there was none.
VTSD_EXPORT long DestroyObject(NativeFaces** object) {
  if (object == nullptr || *object == nullptr) return -1;
  vtsd::native::DestroyNativeObject(*object);
  *object = nullptr;
  return 0;
}

VTSD_EXPORT vtsd::native::AppCapabilities SetPlatformCapabilities(const vtsd::native::AppCapabilities capabilities) {
  g_capabilities = capabilities;
  return vtsd::native::kAppCapabilities1;
}

// The component keeps process-wide state and its own windows and threads;
// it works the same in the platform's process and in a host process of its
// own.
VTSD_EXPORT vtsd::native::AttachType GetAttachType() { return vtsd::native::kCanAttachAny; }
