// NativeValue to and from Value, with every string the component hands the
// platform allocated through the platform's memory manager.
#pragma once

#include <string>
#include <vector>

#include "base/params.hpp"
#include "base/value.hpp"
#include "hosts/native/abi.hpp"

namespace vtsd::native {

// The platform's memory manager as the component uses it. Without one
// (setMemManager not called yet) nothing can be handed over: strings come
// back as null and values as empty.
class PlatformMemory {
 public:
  void Use(MemoryManager* manager) { manager_ = manager; }
  bool Available() const { return manager_ != nullptr && manager_->table != nullptr; }

  // `text` as a zero-terminated UTF-16 string from the platform's memory;
  // null when there is no manager or it refuses.
  NativeChar* Copy(const std::string& utf8, uint32_t* length = nullptr);
  void Free(void* memory);

 private:
  MemoryManager* manager_ = nullptr;
};

// The value the platform passed. A reference is followed; an array, an
// interface, binary data or an error code has no text form.
Value ValueFromNative(const NativeValue& value);

// Writes `value` into `out` (whatever `out` held is the platform's and is
// left to it). A text goes into memory from `memory`; false when that fails,
// and `out` is then empty.
bool StoreNative(const Value& value, NativeValue* out, PlatformMemory& memory);

// The OLE date of a struct tm's calendar fields (days since 1899-12-30 and
// the fraction of the day), the number a COM host passes for a date.
double OleDateFromTm(const struct tm& tm);

// The platform's parameter array of one call. Texts written into it come from
// the platform's memory; one written twice in the same call frees the text it
// wrote first, which the platform never saw.
class NativeParams : public ParamArray {
 public:
  NativeParams(NativeValue* params, long count, PlatformMemory& memory)
      : params_(params), count_(params == nullptr || count < 0 ? 0 : count), memory_(memory) {}
  Value Read(int index) const override;
  void Write(int index, const Value& value) override;

 private:
  NativeValue* params_;
  long count_;
  PlatformMemory& memory_;
  std::vector<void*> written_;
};

}  // namespace vtsd::native
