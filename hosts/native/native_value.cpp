#include "hosts/native/native_value.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/utf16.hpp"

namespace vtsd::native {

namespace {

// Deep enough for any reference chain a caller builds on purpose.
constexpr int kMaxReferenceDepth = 8;

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

NativeChar* PlatformMemory::Copy(const std::string& utf8, uint32_t* length) {
  if (!Available()) return nullptr;
  const std::u16string text = platform::Utf16FromUtf8(utf8);
  void* memory = nullptr;
  const unsigned long bytes = static_cast<unsigned long>((text.size() + 1) * sizeof(NativeChar));
  if (!manager_->table->AllocMemory(manager_, &memory, bytes) || memory == nullptr) return nullptr;
  std::memcpy(memory, text.c_str(), bytes);
  if (length != nullptr) *length = static_cast<uint32_t>(text.size());
  return static_cast<NativeChar*>(memory);
}

void PlatformMemory::Free(void* memory) {
  if (Available() && memory != nullptr) manager_->table->FreeMemory(manager_, &memory);
}

double OleDateFromTm(const struct tm& tm) {
  // 1899-12-30 is day 0 of the OLE calendar, 25569 days before 1970-01-01.
  const int64_t days = DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) + 25569;
  const double fraction = (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec) / 86400.0;
  // Before day 0 the fraction counts away from zero, as OLE dates do.
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

Value ValueFromNative(const NativeValue& value) {
  const NativeValue* v = &value;
  for (int depth = 0; (v->vt & kTypeMask) == kTypeVariant && (v->vt & kTypeByRef) != 0; ++depth) {
    if (depth >= kMaxReferenceDepth || v->value == nullptr) return Value::Object("Unknown");
    v = v->value;
  }
  if (v->vt & (kTypeArray | kTypeVector)) return Value::Object("Array");
  switch (v->vt & kTypeMask) {
    case kTypeEmpty:
    case kTypeNull: return Value();
    case kTypeI1: return Value::Int(v->i1);
    case kTypeI2: return Value::Int(v->i2);
    case kTypeI4: return Value::Int(v->i4);
    case kTypeInt: return Value::Int(v->int_value);
    case kTypeI8: return ValueFromInteger(v->i8);
    case kTypeUi1: return Value::Int(v->ui1);
    case kTypeUi2: return Value::Int(v->ui2);
    case kTypeUi4: return ValueFromUnsigned(v->ui4);
    case kTypeUint: return ValueFromUnsigned(v->uint_value);
    case kTypeUi8: return ValueFromUnsigned(v->ui8);
    case kTypeR4: return Value::Double(v->r4);
    case kTypeR8: return Value::Double(v->r8);
    case kTypeDate: return Value::Double(v->date);
    case kTypeTm: return Value::Double(OleDateFromTm(v->tm));
    case kTypeBool: return Value::Bool(v->boolean);
    case kTypePwstr:
      return Value::Text(v->wstr.chars == nullptr ? std::string()
                                                  : platform::Utf8FromUtf16(v->wstr.chars, v->wstr.length));
    case kTypePstr:
      return Value::Text(v->str.bytes == nullptr ? std::string() : std::string(v->str.bytes, v->str.length));
    case kTypeInterface: return Value::Object("Interface");
    case kTypeBlob: return Value::Object("Blob");
    case kTypeError: return Value::Object("Error");
    default: return Value::Object("Unknown");
  }
}

bool StoreNative(const Value& value, NativeValue* out, PlatformMemory& memory) {
  if (out == nullptr) return false;
  std::memset(out, 0, sizeof *out);
  out->vt = kTypeEmpty;
  switch (value.kind()) {
    case Value::Kind::Empty:
    case Value::Kind::Object: return true;
    case Value::Kind::Bool:
      out->boolean = value.bool_value();
      out->vt = kTypeBool;
      return true;
    case Value::Kind::Int:
      out->i4 = value.int_value();
      out->vt = kTypeI4;
      return true;
    case Value::Kind::Double:
      out->r8 = value.double_value();
      out->vt = kTypeR8;
      return true;
    case Value::Kind::Text: {
      uint32_t length = 0;
      NativeChar* chars = memory.Copy(value.text_value(), &length);
      if (chars == nullptr) return false;
      out->wstr.chars = chars;
      out->wstr.length = length;
      out->vt = kTypePwstr;
      return true;
    }
  }
  return false;
}

Value NativeParams::Read(int index) const {
  if (index < 0 || index >= count_) return Value();
  return ValueFromNative(params_[index]);
}

void NativeParams::Write(int index, const Value& value) {
  if (index < 0 || index >= count_) return;
  NativeValue& slot = params_[index];
  if ((slot.vt & kTypeMask) == kTypePwstr) {
    auto mine = std::find(written_.begin(), written_.end(), static_cast<void*>(slot.wstr.chars));
    if (mine != written_.end()) {
      memory_.Free(*mine);
      written_.erase(mine);
    }
  }
  if (StoreNative(value, &slot, memory_) && slot.vt == kTypePwstr) written_.push_back(slot.wstr.chars);
}

}  // namespace vtsd::native
