#include "hosts/com/variant.hpp"

#include <cstdint>
#include <limits>
#include <new>

#include "platform/win32/wide.hpp"

namespace vtsd::com {

namespace {

// Deep enough for any reference chain a caller builds on purpose; a longer
// (or circular) chain is treated as a value with no text form.
constexpr int kMaxReferenceDepth = 8;

double FromCurrency(const CY& cy) { return static_cast<double>(cy.int64) / 10000.0; }

double FromDecimal(const DECIMAL& dec) {
  double d = 0;
  DECIMAL copy = dec;
  if (FAILED(::VarR8FromDec(&copy, &d))) return 0;
  return d;
}

}  // namespace

std::string TextFromBstr(BSTR text) {
  if (!text) return std::string();
  return platform::Narrow(text, ::SysStringLen(text));
}

BSTR AllocBstr(const std::string& utf8) {
  const std::wstring wide = platform::Widen(utf8);
  BSTR b = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

Value ValueFromVariant(const VARIANT& variant) {
  const VARIANT* v = &variant;
  for (int depth = 0; V_VT(v) == (VT_BYREF | VT_VARIANT); ++depth) {
    if (depth == kMaxReferenceDepth) return Value::Object("Variant");
    v = V_VARIANTREF(v);
    if (!v) return Value();
  }
  const VARTYPE vt = V_VT(v);
  if (vt & VT_ARRAY) return Value::Object("Array");
  const bool byref = (vt & VT_BYREF) != 0;
  if (byref && !V_BYREF(v)) return Value();
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
    case VT_NULL: return Value();
    case VT_I1: return Value::Int(byref ? *V_I1REF(v) : V_I1(v));
    case VT_I2: return Value::Int(byref ? *V_I2REF(v) : V_I2(v));
    case VT_I4: return Value::Int(byref ? *V_I4REF(v) : V_I4(v));
    case VT_INT: return Value::Int(byref ? *V_INTREF(v) : V_INT(v));
    case VT_I8: return ValueFromInteger(byref ? *V_I8REF(v) : V_I8(v));
    case VT_UI1: return Value::Int(byref ? *V_UI1REF(v) : V_UI1(v));
    case VT_UI2: return Value::Int(byref ? *V_UI2REF(v) : V_UI2(v));
    case VT_UI4: return ValueFromUnsigned(byref ? *V_UI4REF(v) : V_UI4(v));
    case VT_UINT: return ValueFromUnsigned(byref ? *V_UINTREF(v) : V_UINT(v));
    case VT_UI8: return ValueFromUnsigned(byref ? *V_UI8REF(v) : V_UI8(v));
    case VT_R4: return Value::Double(byref ? *V_R4REF(v) : V_R4(v));
    case VT_R8: return Value::Double(byref ? *V_R8REF(v) : V_R8(v));
    case VT_DATE: return Value::Double(byref ? *V_DATEREF(v) : V_DATE(v));
    case VT_CY: return Value::Double(FromCurrency(byref ? *V_CYREF(v) : V_CY(v)));
    case VT_DECIMAL: return Value::Double(FromDecimal(byref ? *V_DECIMALREF(v) : V_DECIMAL(v)));
    case VT_BOOL: return Value::Bool((byref ? *V_BOOLREF(v) : V_BOOL(v)) != VARIANT_FALSE);
    case VT_BSTR: return Value::Text(TextFromBstr(byref ? *V_BSTRREF(v) : V_BSTR(v)));
    case VT_DISPATCH: return Value::Object("Dispatch");
    case VT_UNKNOWN: return Value::Object("Unknown");
    case VT_ERROR: return Value::Object("Error");
    default: return Value::Object("Unknown");
  }
}

void StoreValue(const Value& value, VARIANT* out) {
  ::VariantClear(out);
  switch (value.kind()) {
    case Value::Kind::Empty:
    case Value::Kind::Object: V_VT(out) = VT_EMPTY; break;
    case Value::Kind::Bool:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = value.bool_value() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Value::Kind::Int:
      V_VT(out) = VT_I4;
      V_I4(out) = value.int_value();
      break;
    case Value::Kind::Double:
      V_VT(out) = VT_R8;
      V_R8(out) = value.double_value();
      break;
    case Value::Kind::Text:
      V_BSTR(out) = AllocBstr(value.text_value());
      V_VT(out) = VT_BSTR;
      break;
  }
}

namespace {

// Holds the array's lock while an element is read or written, so the data
// cannot move or go away under the pointer.
class ArrayLock {
 public:
  explicit ArrayLock(SAFEARRAY* array) : array_(array), locked_(SUCCEEDED(::SafeArrayLock(array))) {}
  ~ArrayLock() {
    if (locked_) ::SafeArrayUnlock(array_);
  }
  ArrayLock(const ArrayLock&) = delete;
  ArrayLock& operator=(const ArrayLock&) = delete;
  bool locked() const { return locked_; }

 private:
  SAFEARRAY* array_;
  bool locked_;
};

// The element at `index` of a locked array, or null outside its bounds.
VARIANT* ElementAt(SAFEARRAY* array, int index) {
  LONG i = index;
  void* element = nullptr;
  if (FAILED(::SafeArrayPtrOfIndex(array, &i, &element))) return nullptr;
  return static_cast<VARIANT*>(element);
}

}  // namespace

// A host may build the array without the flags that name its element type
// (allocating the descriptor and data itself): an array that names no type
// but whose elements are VARIANT-sized is taken as VARIANTs. An array that
// names another type is refused, even when its elements have that size
// (DECIMAL, say).
bool SafeArrayParams::Usable() const {
  if (!array_ || ::SafeArrayGetDim(array_) != 1) return false;
  VARTYPE vt = VT_EMPTY;
  if (SUCCEEDED(::SafeArrayGetVartype(array_, &vt))) return vt == VT_VARIANT;
  return ::SafeArrayGetElemsize(array_) == sizeof(VARIANT);
}

// Elements are read and written in place, the way SafeArrayGetElement and
// SafeArrayPutElement treat a VARIANT array; those two would copy raw bytes
// for an array without the VARIANT flag.
Value SafeArrayParams::Read(int index) const {
  if (!Usable()) return Value();
  ArrayLock lock(array_);
  if (!lock.locked()) return Value();
  const VARIANT* element = ElementAt(array_, index);
  return element ? ValueFromVariant(*element) : Value();
}

void SafeArrayParams::Write(int index, const Value& value) {
  if (!Usable()) return;
  VARIANT stored;
  ::VariantInit(&stored);
  StoreValue(value, &stored);
  ArrayLock lock(array_);
  VARIANT* element = lock.locked() ? ElementAt(array_, index) : nullptr;
  if (!element || FAILED(::VariantClear(element))) {
    ::VariantClear(&stored);
    return;
  }
  *element = stored;  // the element now owns what `stored` held
}

}  // namespace vtsd::com
