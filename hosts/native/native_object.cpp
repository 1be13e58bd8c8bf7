#include "hosts/native/native_object.hpp"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "addin/component.hpp"
#include "addin/dispatch.hpp"
#include "hosts/native/native_value.hpp"
#include "platform/utf16.hpp"

namespace vtsd::native {

namespace {

// What the platform's connection offers: the component keeps the reference
// for every host interface it asks for and never calls it, so the one
// connection pointer stands for all of them.
class PlatformConnection : public HostConnection {
 public:
  explicit PlatformConnection(void* connection) : connection_(connection) {}
  HostRef Query(HostInterface) override {
    if (connection_ == nullptr) return HostRef();
    return HostRef(connection_, [](void*) {});
  }

 private:
  void* connection_;
};

// Everything behind the tables.
struct ObjectState {
  Component component;
  PlatformMemory memory;
  std::unique_ptr<PlatformConnection> connection;
};

// The faces must start the object, so it stays a plain struct; it owns its
// state and frees it with itself.
struct NativeObject {
  NativeFaces faces;
  ObjectState* state;
  ~NativeObject() { delete state; }
};
static_assert(offsetof(NativeObject, faces) == 0, "the platform's view starts the object");

// The object behind the interface at position `n` (the pointer the platform
// calls through).
template <int n>
NativeObject& Owner(void* self) {
  return *reinterpret_cast<NativeObject*>(static_cast<char*>(self) - n * sizeof(void*));
}

std::string Narrow(const NativeChar* text) {
  if (text == nullptr) return std::string();
  size_t length = 0;
  while (text[length] != 0) ++length;
  return platform::Utf8FromUtf16(text, length);
}

// Every entry catches everything: no exception reaches the platform.
template <class Body, class Result>
Result Guarded(Result failed, Body&& body) {
  try {
    return body();
  } catch (...) {
    return failed;
  }
}

// ---- The destructor slots ------------------------------------------------------

// The platform destroys the object through DestroyObject; a destructor slot
// called all the same destroys it too, once.
#if defined(_WIN32) && !defined(_WIN64)
#define VTSD_DESTRUCTOR_CALL __attribute__((thiscall))
#else
#define VTSD_DESTRUCTOR_CALL
#endif

#if defined(_WIN32)
// The one slot of MSVC: the scalar deleting destructor, told by its flags
// whether to free the memory too.
template <int n>
void* VTSD_DESTRUCTOR_CALL DeletingDestructor(void* self, unsigned int flags) {
  NativeObject* object = &Owner<n>(self);
  if (flags & 1) delete object;
  return object;
}
#define VTSD_DESTRUCTORS(n) {reinterpret_cast<DestructorSlot>(&DeletingDestructor<n>)}
#else
// The two slots of the Itanium ABI: the complete destructor (the object's
// memory stays) and the deleting one.
template <int n>
void DeletingDestructor(void* self) {
  delete &Owner<n>(self);
}
template <int n>
void CompleteDestructor(void*) {}
#define VTSD_DESTRUCTORS(n) \
  {reinterpret_cast<DestructorSlot>(&CompleteDestructor<n>), reinterpret_cast<DestructorSlot>(&DeletingDestructor<n>)}
#endif

// ---- Initialisation -------------------------------------------------------------

bool VTSD_NATIVE_CALL Init(void* self, void* connection) {
  return Guarded(false, [&] {
    ObjectState& s = *Owner<0>(self).state;
    s.connection = std::make_unique<PlatformConnection>(connection);
    return s.component.Init(s.connection.get()) == kS_OK;
  });
}

bool VTSD_NATIVE_CALL SetMemManager(void* self, void* memory) {
  Owner<0>(self).state->memory.Use(static_cast<MemoryManager*>(memory));
  return memory != nullptr;
}

long VTSD_NATIVE_CALL GetInfo(void*) { return 2000; }

void VTSD_NATIVE_CALL Done(void* self) {
  Guarded(0, [&] { return static_cast<int>(Owner<0>(self).state->component.Done()); });
}

const InitDoneTable kInitDone = {VTSD_DESTRUCTORS(0), Init, SetMemManager, GetInfo, Done};

// ---- The language interface --------------------------------------------------------

Component& Core(void* self) { return Owner<1>(self).state->component; }
PlatformMemory& Memory(void* self) { return Owner<1>(self).state->memory; }

bool VTSD_NATIVE_CALL RegisterExtensionAs(void* self, NativeChar** name) {
  return Guarded(false, [&] {
    if (name == nullptr) return false;
    std::string text;
    if (Core(self).RegisterExtensionAs(text) != kS_OK) return false;
    *name = Memory(self).Copy(text);
    return *name != nullptr;
  });
}

long VTSD_NATIVE_CALL GetNProps(void* self) {
  long count = 0;
  Core(self).GetNProps(count);
  return count;
}

long VTSD_NATIVE_CALL FindProp(void* self, const NativeChar* name) {
  return Guarded(-1L, [&] {
    long number = -1;
    return Core(self).FindProp(Narrow(name), number) == kS_OK ? number : -1L;
  });
}

const NativeChar* VTSD_NATIVE_CALL GetPropName(void* self, long number, long alias) {
  return Guarded(static_cast<const NativeChar*>(nullptr), [&]() -> const NativeChar* {
    std::string name;
    if (Core(self).GetPropName(number, alias, name) != kS_OK) return nullptr;
    return Memory(self).Copy(name);
  });
}

bool VTSD_NATIVE_CALL GetPropVal(void* self, const long number, NativeValue* value) {
  return Guarded(false, [&] {
    Value v;
    const bool known = Core(self).GetPropVal(number, v) == kS_OK;
    return StoreNative(v, value, Memory(self)) && known;
  });
}

bool VTSD_NATIVE_CALL SetPropVal(void* self, const long number, NativeValue* value) {
  return Guarded(false, [&] {
    const Value v = value == nullptr ? Value() : ValueFromNative(*value);
    return Core(self).SetPropVal(number, v) == kS_OK;
  });
}

bool VTSD_NATIVE_CALL IsPropReadable(void* self, const long number) {
  bool readable = false;
  return Core(self).IsPropReadable(number, readable) == kS_OK && readable;
}

bool VTSD_NATIVE_CALL IsPropWritable(void* self, const long number) {
  bool writable = false;
  return Core(self).IsPropWritable(number, writable) == kS_OK && writable;
}

long VTSD_NATIVE_CALL GetNMethods(void* self) {
  long count = 0;
  Core(self).GetNMethods(count);
  return count;
}

long VTSD_NATIVE_CALL FindMethod(void* self, const NativeChar* name) {
  return Guarded(-1L, [&] {
    long number = -1;
    return Core(self).FindMethod(Narrow(name), number) == kS_OK ? number : -1L;
  });
}

const NativeChar* VTSD_NATIVE_CALL GetMethodName(void* self, const long number, const long alias) {
  return Guarded(static_cast<const NativeChar*>(nullptr), [&]() -> const NativeChar* {
    std::string name;
    if (Core(self).GetMethodName(number, alias, name) != kS_OK) return nullptr;
    return Memory(self).Copy(name);
  });
}

long VTSD_NATIVE_CALL GetNParams(void* self, const long number) {
  long count = 0;
  Core(self).GetNParams(number, count);
  return count;
}

bool VTSD_NATIVE_CALL GetParamDefValue(void* self, const long method, const long param, NativeValue* value) {
  return Guarded(false, [&] {
    Value v;
    const bool ok = Core(self).GetParamDefValue(method, param, v) == kS_OK;
    return StoreNative(v, value, Memory(self)) && ok;
  });
}

bool VTSD_NATIVE_CALL HasRetVal(void* self, const long method) {
  bool has = false;
  return Core(self).HasRetVal(method, has) == kS_OK && has;
}

bool VTSD_NATIVE_CALL CallAsProc(void* self, const long method, NativeValue* params, const long count) {
  return Guarded(false, [&] {
    NativeParams array(params, count, Memory(self));
    return Core(self).CallAsProc(method, array) == kS_OK;
  });
}

bool VTSD_NATIVE_CALL CallAsFunc(void* self, const long method, NativeValue* ret, NativeValue* params,
                                 const long count) {
  return Guarded(false, [&] {
    NativeParams array(params, count, Memory(self));
    Value result;
    const long answer = Core(self).CallAsFunc(method, result, array);
    // The return value goes back whatever the answer: the frame has set it
    // (0 for a failed driver method) before it answers.
    StoreNative(result, ret, Memory(self));
    return answer == kS_OK;
  });
}

const LanguageExtenderTable kLanguage = {
    VTSD_DESTRUCTORS(1), RegisterExtensionAs, GetNProps,   FindProp,      GetPropName,      GetPropVal,
    SetPropVal,          IsPropReadable,      IsPropWritable, GetNMethods, FindMethod,       GetMethodName,
    GetNParams,          GetParamDefValue,    HasRetVal,    CallAsProc,    CallAsFunc};

// ---- Locale and interface language -------------------------------------------------

void VTSD_NATIVE_CALL SetLocale(void* self, const NativeChar* locale) {
  Guarded(0, [&] { return static_cast<int>(Owner<2>(self).state->component.SetLocale(Narrow(locale))); });
}

void VTSD_NATIVE_CALL SetUserInterfaceLanguageCode(void* self, const NativeChar* language) {
  Guarded(0, [&] { return static_cast<int>(Owner<3>(self).state->component.SetLocale(Narrow(language))); });
}

const LocaleTable kLocale = {VTSD_DESTRUCTORS(2), SetLocale};
const UserLanguageTable kUserLanguage = {VTSD_DESTRUCTORS(3), SetUserInterfaceLanguageCode};

}  // namespace

NativeFaces* CreateNativeObject() {
  NativeObject* object = new (std::nothrow) NativeObject{{&kInitDone, &kLanguage, &kLocale, &kUserLanguage}, nullptr};
  if (object == nullptr) return nullptr;
  object->state = new (std::nothrow) ObjectState();
  if (object->state == nullptr) {
    delete object;
    return nullptr;
  }
  return &object->faces;
}

void DestroyNativeObject(NativeFaces* object) {
  if (object != nullptr) delete reinterpret_cast<NativeObject*>(object);
}

}  // namespace vtsd::native
