// The Native API backend: loads a Native API library the way the 1C platform
// does (GetClassNames, GetClassObject, setMemManager, Init) and calls the
// object through its interface tables. The memory manager it hands the
// component records every allocation; each string or value the component
// hands back is freed through it as the platform frees it, and at the end
// nothing may be left allocated and nothing may have been freed that was
// not allocated (or freed twice).
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hosts/native/abi.hpp"
#include "hosts/native/native_value.hpp"
#include "platform/utf16.hpp"
#include "tools/vtsd-host/backend.hpp"
#include "tools/vtsd-host/window_automation.hpp"
#if defined(_WIN32)
#include "platform/win32/wide.hpp"
#endif

namespace vtsd::host {

namespace {

using namespace vtsd::native;

// ---- The platform's memory manager ----------------------------------------------------

class RecordingMemory {
 public:
  RecordingMemory() : face_{&kTable, this} {}
  MemoryManager* face() { return reinterpret_cast<MemoryManager*>(&face_); }

  bool Owns(const void* p) const { return live_.count(p) != 0; }
  // Frees a block the component handed over, as the platform does.
  void Release(void* p) {
    void* copy = p;
    Free(&face_, &copy);
  }
  std::string Problems() const {
    std::string out;
    if (!live_.empty()) {
      size_t bytes = 0;
      for (const auto& block : live_) bytes += block.second;
      out += std::to_string(live_.size()) + " block(s) of " + std::to_string(bytes) +
             " bytes allocated by the component were never handed back; ";
    }
    if (bad_frees_ > 0) out += std::to_string(bad_frees_) + " free(s) of memory not allocated or freed before; ";
    return out;
  }
  std::string Summary() const {
    return std::to_string(allocations_) + " allocations, " + std::to_string(frees_) + " frees";
  }

 private:
  // What the component holds: the table first, as the platform's manager
  // has it, then the way back to this object.
  struct Face {
    const MemoryManagerTable* table;
    RecordingMemory* owner;
  };
  static RecordingMemory& Of(void* self) { return *static_cast<Face*>(self)->owner; }
  static bool VTSD_NATIVE_CALL Alloc(void* self, void** memory, unsigned long bytes) {
    RecordingMemory& m = Of(self);
    *memory = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (*memory == nullptr) return false;
    m.live_[*memory] = bytes;
    ++m.allocations_;
    return true;
  }
  static void VTSD_NATIVE_CALL Free(void* self, void** memory) {
    RecordingMemory& m = Of(self);
    if (memory == nullptr || *memory == nullptr) return;
    auto it = m.live_.find(*memory);
    if (it == m.live_.end()) {
      ++m.bad_frees_;
      return;
    }
    std::free(*memory);
    m.live_.erase(it);
    ++m.frees_;
    *memory = nullptr;
  }
  static const MemoryManagerTable kTable;

  Face face_;
  std::map<const void*, size_t> live_;
  size_t allocations_ = 0, frees_ = 0, bad_frees_ = 0;
};

// The component never destroys the platform's manager: its destructor
// slots stay empty.
const MemoryManagerTable RecordingMemory::kTable = {{}, &RecordingMemory::Alloc, &RecordingMemory::Free};

// ---- The platform's connection --------------------------------------------------------

// The component keeps the connection and never calls it: every slot of its
// table ends the harness with a message naming the slot.
constexpr int kConnectionSlots = 24;
template <int slot>
void VTSD_NATIVE_CALL ConnectionCalled() {
  std::fprintf(stderr, "vtsd-host: the component called slot %d of the platform's connection\n", slot);
  std::abort();
}
template <int... slots>
constexpr std::array<void(VTSD_NATIVE_CALL*)(), sizeof...(slots)> ConnectionTable(std::integer_sequence<int, slots...>) {
  return {&ConnectionCalled<slots>...};
}
const auto kConnectionTable = ConnectionTable(std::make_integer_sequence<int, kConnectionSlots>());
struct Connection {
  const void* table = kConnectionTable.data();
} g_connection;

// ---- Values the platform passes ---------------------------------------------------------

NativeChar* OwnText(const std::string& utf8, uint32_t* length = nullptr) {
  const std::u16string text = platform::Utf16FromUtf8(utf8);
  if (length != nullptr) *length = static_cast<uint32_t>(text.size());
  auto* chars = static_cast<NativeChar*>(std::calloc(text.size() + 1, sizeof(NativeChar)));
  if (chars == nullptr) throw BackendError("out of memory");
  std::memcpy(chars, text.data(), text.size() * sizeof(NativeChar));
  return chars;
}

// A value as the platform passes it in: its own strings.
NativeValue Incoming(const Value& value) {
  NativeValue v;
  std::memset(&v, 0, sizeof v);
  switch (value.kind()) {
    case Value::Kind::Empty: v.vt = kTypeEmpty; break;
    case Value::Kind::Bool:
      v.vt = kTypeBool;
      v.boolean = value.bool_value();
      break;
    case Value::Kind::Int:
      v.vt = kTypeI4;
      v.i4 = value.int_value();
      break;
    case Value::Kind::Double:
      v.vt = kTypeR8;
      v.r8 = value.double_value();
      break;
    case Value::Kind::Text: {
      v.vt = kTypePwstr;
      v.wstr.chars = OwnText(value.text_value(), &v.wstr.length);
      break;
    }
    case Value::Kind::Object: v.vt = kTypeInterface; break;
  }
  return v;
}

class NativeBackend : public Backend {
 public:
  NativeBackend(DialogScript& dialogs, const std::string& library) {
#if defined(_WIN32)
    library_ = ::LoadLibraryW(platform::Widen(library).c_str());
    if (library_ == nullptr)
      throw BackendError("cannot load the library: error " + std::to_string(::GetLastError()));
#else
    library_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) throw BackendError(std::string("cannot load the library: ") + ::dlerror());
#endif
    auto names = Export<const NativeChar* (*)()>("GetClassNames");
    auto create = Export<long (*)(const NativeChar*, NativeFaces**)>("GetClassObject");
    destroy_ = Export<long (*)(NativeFaces**)>("DestroyObject");
    auto capabilities = Export<AppCapabilities (*)(AppCapabilities)>("SetPlatformCapabilities");
    auto attach = Export<AttachType (*)()>("GetAttachType");
    if (attach() < kCanAttachNotIsolated || attach() > kCanAttachAny) throw BackendError("GetAttachType is unknown");
    capabilities(kAppCapabilities1);
    // The first name of the list, as a configuration names the class.
    const NativeChar* list = names();
    if (list == nullptr) throw BackendError("GetClassNames gave no name");
    std::u16string first;
    for (const NativeChar* p = list; *p != 0 && *p != u'|'; ++p) first.push_back(*p);
    if (create(first.c_str(), &object_) == 0 || object_ == nullptr) throw BackendError("GetClassObject failed");
    if (!InitDone().setMemManager(Face(0), memory_.face())) throw BackendError("setMemManager refused");
    // The component's windows are real windows (Win32, or X on Linux): the
    // automation answers them from the script, as with the COM server.
    automation_ = std::make_unique<WindowAutomation>(dialogs);
  }

  ~NativeBackend() override {
    automation_.reset();
    if (object_ != nullptr) destroy_(&object_);
    // The library stays loaded: a thread the component left would run code
    // that is gone.
  }

  std::string Problems() const override { return memory_.Problems(); }
  std::string Summary() const override { return "memory manager: " + memory_.Summary(); }

  long Init() override { return InitDone().Init(Face(0), &g_connection) ? 0 : 1; }
  long Done() override {
    InitDone().Done(Face(0));
    return 0;
  }
  long GetInfo(Values& info) override {
    const long version = InitDone().GetInfo(Face(0));
    if (!info.empty()) info[0] = Value::Text(std::to_string(version));
    return 0;
  }
  long SetLocale(const std::string& locale_name) override {
    NativeValue name = Incoming(Value::Text(locale_name));
    object_->locale->SetLocale(Face(2), name.wstr.chars);
    std::free(name.wstr.chars);
    return 0;
  }
  long RegisterExtensionAs(std::string& name) override {
    NativeChar* text = nullptr;
    const bool ok = Language().RegisterExtensionAs(Face(1), &text);
    name = TakeText(text);
    return ok ? 0 : 1;
  }
  long GetNProps(long& count) override {
    count = Language().GetNProps(Face(1));
    return 0;
  }
  long FindProp(const std::string& name, long& number) override {
    number = WithText(name, [&](const NativeChar* t) { return Language().FindProp(Face(1), t); });
    return number < 0 ? 1 : 0;
  }
  long GetPropName(long number, long alias, std::string& name) override {
    const NativeChar* text = Language().GetPropName(Face(1), number, alias);
    name = TakeText(const_cast<NativeChar*>(text));
    return text != nullptr ? 0 : 1;
  }
  long GetPropVal(long number, Value& value) override {
    NativeValue v = Incoming(Value());
    const bool ok = Language().GetPropVal(Face(1), number, &v);
    value = TakeValue(v);
    return ok ? 0 : 1;
  }
  long SetPropVal(long number, const Value& value) override {
    NativeValue v = Incoming(value);
    const bool ok = Language().SetPropVal(Face(1), number, &v);
    TakeValue(v);
    return ok ? 0 : 1;
  }
  long IsPropReadable(long number, bool& readable) override {
    readable = Language().IsPropReadable(Face(1), number);
    return number >= 0 && number < Props() ? 0 : 1;
  }
  long IsPropWritable(long number, bool& writable) override {
    writable = Language().IsPropWritable(Face(1), number);
    return number >= 0 && number < Props() ? 0 : 1;
  }
  long GetNMethods(long& count) override {
    count = Language().GetNMethods(Face(1));
    return 0;
  }
  long FindMethod(const std::string& name, long& number) override {
    number = WithText(name, [&](const NativeChar* t) { return Language().FindMethod(Face(1), t); });
    return number < 0 ? 1 : 0;
  }
  long GetMethodName(long number, long alias, std::string& name) override {
    const NativeChar* text = Language().GetMethodName(Face(1), number, alias);
    name = TakeText(const_cast<NativeChar*>(text));
    return text != nullptr ? 0 : 1;
  }
  long GetNParams(long number, long& count) override {
    count = Language().GetNParams(Face(1), number);
    return number >= 0 && number < Language().GetNMethods(Face(1)) ? 0 : 1;
  }
  long GetParamDefValue(long method, long param, Value& value) override {
    NativeValue v = Incoming(Value());
    const bool ok = Language().GetParamDefValue(Face(1), method, param, &v);
    value = TakeValue(v);
    return ok ? 0 : 1;
  }
  long HasRetVal(long method, bool& has) override {
    has = Language().HasRetVal(Face(1), method);
    return 0;
  }
  long CallAsProc(long method, Values& params) override {
    std::vector<NativeValue> array = Array(params);
    const bool ok = Language().CallAsProc(Face(1), method, array.data(), static_cast<long>(array.size()));
    Collect(array, params);
    return ok ? 0 : 1;
  }
  long CallAsFunc(long method, Value& ret, Values& params) override {
    std::vector<NativeValue> array = Array(params);
    NativeValue result = Incoming(Value());
    const bool ok =
        Language().CallAsFunc(Face(1), method, &result, array.data(), static_cast<long>(array.size()));
    ret = TakeValue(result);
    Collect(array, params);
    return ok ? 0 : 1;
  }

 private:
  template <class F>
  F Export(const char* name) {
#if defined(_WIN32)
    auto symbol = reinterpret_cast<void*>(::GetProcAddress(library_, name));
#else
    void* symbol = ::dlsym(library_, name);
#endif
    if (symbol == nullptr) throw BackendError(std::string("the library does not export ") + name);
    return reinterpret_cast<F>(symbol);
  }
  void* Face(int n) const { return reinterpret_cast<char*>(object_) + n * sizeof(void*); }
  const InitDoneTable& InitDone() const { return *object_->init_done; }
  const LanguageExtenderTable& Language() const { return *object_->language; }
  long Props() const { return Language().GetNProps(Face(1)); }

  template <class Call>
  long WithText(const std::string& text, Call&& call) {
    NativeChar* chars = OwnText(text);
    const long result = call(chars);
    std::free(chars);
    return result;
  }

  // A string the component handed over: read, then freed through the
  // memory manager (which counts it as a bad free when the component did
  // not allocate it there).
  std::string TakeText(NativeChar* text) {
    if (text == nullptr) return std::string();
    size_t length = 0;
    while (text[length] != 0) ++length;
    std::string out = platform::Utf8FromUtf16(text, length);
    memory_.Release(text);
    return out;
  }

  // A value after the call: read, then what the component allocated is
  // freed through the manager and what the harness passed in by itself.
  Value TakeValue(NativeValue& v) {
    const Value out = ValueFromNative(v);
    if ((v.vt & kTypeMask) == kTypePwstr && v.wstr.chars != nullptr) {
      if (memory_.Owns(v.wstr.chars)) {
        memory_.Release(v.wstr.chars);
      } else {
        std::free(v.wstr.chars);
      }
    }
    std::memset(&v, 0, sizeof v);
    return out;
  }

  std::vector<NativeValue> Array(const Values& params) {
    std::vector<NativeValue> array;
    array.reserve(params.size());
    for (const Value& p : params) array.push_back(Incoming(p));
    passed_.clear();
    for (const NativeValue& v : array) passed_.push_back(v.vt == kTypePwstr ? v.wstr.chars : nullptr);
    return array;
  }
  // The parameters as the component left them. A string the harness passed
  // and the component replaced is the harness's to free as well.
  void Collect(std::vector<NativeValue>& array, Values& params) {
    for (size_t i = 0; i < array.size(); ++i) {
      const bool replaced = passed_[i] != nullptr && !(array[i].vt == kTypePwstr && array[i].wstr.chars == passed_[i]);
      if (replaced) std::free(passed_[i]);
      params[i] = TakeValue(array[i]);
    }
    passed_.clear();
  }

#if defined(_WIN32)
  HMODULE library_ = nullptr;
#else
  void* library_ = nullptr;
#endif
  std::unique_ptr<WindowAutomation> automation_;
  NativeFaces* object_ = nullptr;
  long (*destroy_)(NativeFaces**) = nullptr;
  RecordingMemory memory_;
  std::vector<NativeChar*> passed_;
};

}  // namespace

std::unique_ptr<Backend> MakeNativeBackend(DialogScript& dialogs, const std::string& library) {
  return std::make_unique<NativeBackend>(dialogs, library);
}

}  // namespace vtsd::host
