// The binary interface between the 1C platform and a Native API component,
// declared here from the technology's published description: the value type
// the two exchange, the component object's four interface tables in their
// slot order, and the platform's memory manager. The declarations are plain
// structs of data and function pointers, so that one definition serves both
// C++ ABIs the platform is built with: on Linux (GCC) a virtual destructor
// takes two table slots, on Windows (MSVC) one, and on 32-bit Windows every
// call is __stdcall with the object first. The static_asserts at the end pin
// every size, offset and slot the platform relies on for each target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#if defined(_WIN32)
#define VTSD_NATIVE_CALL __stdcall
#else
#define VTSD_NATIVE_CALL
#endif

namespace vtsd::native {

// The platform's character: two bytes on every platform (wchar_t on
// Windows, a 16-bit integer elsewhere), UTF-16.
using NativeChar = char16_t;

// Type codes of a NativeValue (the low twelve bits of `vt`).
enum NativeType : uint16_t {
  kTypeEmpty = 0,
  kTypeNull = 1,
  kTypeI2 = 2,
  kTypeI4 = 3,
  kTypeR4 = 4,
  kTypeR8 = 5,
  kTypeDate = 6,  // an OLE date, as a double
  kTypeTm = 7,    // a struct tm
  kTypePstr = 8,
  kTypeInterface = 9,
  kTypeError = 10,
  kTypeBool = 11,
  kTypeVariant = 12,
  kTypeI1 = 13,
  kTypeUi1 = 14,
  kTypeUi2 = 15,
  kTypeUi4 = 16,
  kTypeI8 = 17,
  kTypeUi8 = 18,
  kTypeInt = 19,
  kTypeUint = 20,
  kTypeHresult = 21,
  kTypePwstr = 22,
  kTypeBlob = 23,
  kTypeClsid = 24,
};
constexpr uint16_t kTypeMask = 0x0fff;
constexpr uint16_t kTypeVector = 0x1000;
constexpr uint16_t kTypeArray = 0x2000;
constexpr uint16_t kTypeByRef = 0x4000;

// A class identifier as the platform stores it: the Windows GUID, or the
// 16 bytes of a uuid elsewhere.
#if defined(_WIN32)
struct NativeUuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
#else
struct NativeUuid {
  uint8_t bytes[16];
};
#endif

// The platform's value: a union as wide as its widest member (struct tm on
// Linux, which carries the zone fields there), then the element count of an
// array and the type code.
struct NativeValue {
  union {
    int8_t i1;
    int16_t i2;
    int32_t i4;
    int int_value;
    unsigned int uint_value;
    int64_t i8;
    uint8_t ui1;
    uint16_t ui2;
    uint32_t ui4;
    uint64_t ui8;
    int32_t error_code;
    long hresult;
    float r4;
    double r8;
    bool boolean;
    char ch;
    wchar_t wch;
    double date;
    NativeUuid id;
    NativeValue* value;
    struct tm tm;
    struct {
      void* pointer;
      NativeUuid id;
    } iface;
    struct {
      char* bytes;
      uint32_t length;  // bytes
    } str;
    struct {
      NativeChar* chars;
      uint32_t length;  // characters, without the terminating zero
    } wstr;
  };
  uint32_t cbElements;
  uint16_t vt;
};

// The table slots a virtual destructor takes in the platform's ABI.
#if defined(_WIN32)
constexpr size_t kDestructorSlots = 1;
#else
constexpr size_t kDestructorSlots = 2;
#endif

// A destructor slot. It is never called through these tables (the platform
// destroys objects with DestroyObject) but holds a function all the same.
using DestructorSlot = void*;

// The component object's first interface: initialisation and release.
struct InitDoneTable {
  DestructorSlot destructor[kDestructorSlots];
  bool(VTSD_NATIVE_CALL* Init)(void* self, void* connection);
  bool(VTSD_NATIVE_CALL* setMemManager)(void* self, void* memory);
  long(VTSD_NATIVE_CALL* GetInfo)(void* self);
  void(VTSD_NATIVE_CALL* Done)(void* self);
};

// The second: the properties and methods the 1C language sees.
struct LanguageExtenderTable {
  DestructorSlot destructor[kDestructorSlots];
  bool(VTSD_NATIVE_CALL* RegisterExtensionAs)(void* self, NativeChar** name);
  long(VTSD_NATIVE_CALL* GetNProps)(void* self);
  long(VTSD_NATIVE_CALL* FindProp)(void* self, const NativeChar* name);
  const NativeChar*(VTSD_NATIVE_CALL* GetPropName)(void* self, long number, long alias);
  bool(VTSD_NATIVE_CALL* GetPropVal)(void* self, const long number, NativeValue* value);
  bool(VTSD_NATIVE_CALL* SetPropVal)(void* self, const long number, NativeValue* value);
  bool(VTSD_NATIVE_CALL* IsPropReadable)(void* self, const long number);
  bool(VTSD_NATIVE_CALL* IsPropWritable)(void* self, const long number);
  long(VTSD_NATIVE_CALL* GetNMethods)(void* self);
  long(VTSD_NATIVE_CALL* FindMethod)(void* self, const NativeChar* name);
  const NativeChar*(VTSD_NATIVE_CALL* GetMethodName)(void* self, const long number, const long alias);
  long(VTSD_NATIVE_CALL* GetNParams)(void* self, const long number);
  bool(VTSD_NATIVE_CALL* GetParamDefValue)(void* self, const long method, const long param, NativeValue* value);
  bool(VTSD_NATIVE_CALL* HasRetVal)(void* self, const long method);
  bool(VTSD_NATIVE_CALL* CallAsProc)(void* self, const long method, NativeValue* params, const long count);
  bool(VTSD_NATIVE_CALL* CallAsFunc)(void* self, const long method, NativeValue* ret, NativeValue* params,
                                     const long count);
};

// The third: the platform's locale.
struct LocaleTable {
  DestructorSlot destructor[kDestructorSlots];
  void(VTSD_NATIVE_CALL* SetLocale)(void* self, const NativeChar* locale);
};

// The fourth, which later platforms know: the user's interface language.
struct UserLanguageTable {
  DestructorSlot destructor[kDestructorSlots];
  void(VTSD_NATIVE_CALL* SetUserInterfaceLanguageCode)(void* self, const NativeChar* language);
};

// The component object as the platform sees it: one table pointer per
// interface, in this order; the platform reaches the n-th interface at n
// pointers from the object's start.
struct NativeFaces {
  const InitDoneTable* init_done;
  const LanguageExtenderTable* language;
  const LocaleTable* locale;
  const UserLanguageTable* user_language;
};

// The platform's memory manager, given to setMemManager: every string and
// value the component hands the platform comes from AllocMemory, and the
// platform frees it.
struct MemoryManagerTable {
  DestructorSlot destructor[kDestructorSlots];
  bool(VTSD_NATIVE_CALL* AllocMemory)(void* self, void** memory, unsigned long bytes);
  void(VTSD_NATIVE_CALL* FreeMemory)(void* self, void** memory);
};
struct MemoryManager {
  const MemoryManagerTable* table;
};

// What the exports trade in.
enum AppCapabilities : int { kAppCapabilitiesInvalid = -1, kAppCapabilities1 = 1 };
enum AttachType : int { kCanAttachNotIsolated = 1, kCanAttachIsolated = 2, kCanAttachAny = 3 };

// ---- The layout facts, per target -------------------------------------------

constexpr size_t kPointer = sizeof(void*);

#if defined(_WIN32) && defined(_WIN64)
static_assert(sizeof(NativeValue) == 48 && offsetof(NativeValue, cbElements) == 40 &&
                  offsetof(NativeValue, vt) == 44,
              "the value's layout on Windows x86-64");
#elif defined(_WIN32)
static_assert(sizeof(NativeValue) == 48 && offsetof(NativeValue, cbElements) == 40 &&
                  offsetof(NativeValue, vt) == 44,
              "the value's layout on Windows x86");
#elif defined(__x86_64__)
static_assert(sizeof(NativeValue) == 64 && offsetof(NativeValue, cbElements) == 56 &&
                  offsetof(NativeValue, vt) == 60,
              "the value's layout on Linux x86-64");
#elif defined(__i386__)
static_assert(sizeof(NativeValue) == 52 && offsetof(NativeValue, cbElements) == 44 &&
                  offsetof(NativeValue, vt) == 48,
              "the value's layout on Linux i386");
#endif
static_assert(offsetof(NativeValue, wstr.chars) == 0 && offsetof(NativeValue, wstr.length) == kPointer,
              "a string's characters, then its length");
static_assert(offsetof(NativeValue, str.length) == kPointer, "bytes, then their count");
static_assert(sizeof(NativeChar) == 2, "two-byte characters");
static_assert(sizeof(NativeUuid) == 16, "a 16-byte class identifier");

static_assert(offsetof(InitDoneTable, Init) == (kDestructorSlots + 0) * kPointer &&
                  offsetof(InitDoneTable, setMemManager) == (kDestructorSlots + 1) * kPointer &&
                  offsetof(InitDoneTable, GetInfo) == (kDestructorSlots + 2) * kPointer &&
                  offsetof(InitDoneTable, Done) == (kDestructorSlots + 3) * kPointer,
              "the slots of the initialisation interface");
static_assert(offsetof(LanguageExtenderTable, RegisterExtensionAs) == (kDestructorSlots + 0) * kPointer &&
                  offsetof(LanguageExtenderTable, GetNProps) == (kDestructorSlots + 1) * kPointer &&
                  offsetof(LanguageExtenderTable, FindProp) == (kDestructorSlots + 2) * kPointer &&
                  offsetof(LanguageExtenderTable, GetPropName) == (kDestructorSlots + 3) * kPointer &&
                  offsetof(LanguageExtenderTable, GetPropVal) == (kDestructorSlots + 4) * kPointer &&
                  offsetof(LanguageExtenderTable, SetPropVal) == (kDestructorSlots + 5) * kPointer &&
                  offsetof(LanguageExtenderTable, IsPropReadable) == (kDestructorSlots + 6) * kPointer &&
                  offsetof(LanguageExtenderTable, IsPropWritable) == (kDestructorSlots + 7) * kPointer &&
                  offsetof(LanguageExtenderTable, GetNMethods) == (kDestructorSlots + 8) * kPointer &&
                  offsetof(LanguageExtenderTable, FindMethod) == (kDestructorSlots + 9) * kPointer &&
                  offsetof(LanguageExtenderTable, GetMethodName) == (kDestructorSlots + 10) * kPointer &&
                  offsetof(LanguageExtenderTable, GetNParams) == (kDestructorSlots + 11) * kPointer &&
                  offsetof(LanguageExtenderTable, GetParamDefValue) == (kDestructorSlots + 12) * kPointer &&
                  offsetof(LanguageExtenderTable, HasRetVal) == (kDestructorSlots + 13) * kPointer &&
                  offsetof(LanguageExtenderTable, CallAsProc) == (kDestructorSlots + 14) * kPointer &&
                  offsetof(LanguageExtenderTable, CallAsFunc) == (kDestructorSlots + 15) * kPointer &&
                  sizeof(LanguageExtenderTable) == (kDestructorSlots + 16) * kPointer,
              "the slots of the language interface");
static_assert(offsetof(LocaleTable, SetLocale) == kDestructorSlots * kPointer, "the locale slot");
static_assert(offsetof(UserLanguageTable, SetUserInterfaceLanguageCode) == kDestructorSlots * kPointer,
              "the interface-language slot");
static_assert(offsetof(MemoryManagerTable, AllocMemory) == kDestructorSlots * kPointer &&
                  offsetof(MemoryManagerTable, FreeMemory) == (kDestructorSlots + 1) * kPointer,
              "the memory manager's slots");
static_assert(offsetof(NativeFaces, language) == 1 * kPointer && offsetof(NativeFaces, locale) == 2 * kPointer &&
                  offsetof(NativeFaces, user_language) == 3 * kPointer,
              "the interfaces one pointer apart from the object's start");

}  // namespace vtsd::native
