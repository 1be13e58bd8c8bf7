// VARIANT, BSTR and SAFEARRAY <-> the portable host values. Shared by the
// component's COM class and the host harness's COM backend.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "base/params.hpp"
#include "base/value.hpp"

namespace vtsd::com {

// Reads a VARIANT as the component sees it. VT_BYREF is followed (also a
// reference to a VARIANT that holds a reference). Signed and unsigned
// integers become 32-bit integers when they fit and doubles when they do not;
// VT_R4, VT_R8, VT_CY, VT_DECIMAL and VT_DATE (its day number) become doubles;
// VT_EMPTY and VT_NULL are empty; VT_BOOL and VT_BSTR map directly. Dispatch,
// unknown, error and array values, and anything else, have no text form.
Value ValueFromVariant(const VARIANT& variant);

// Stores a value into `out`, which must hold a valid VARIANT (it is cleared
// first). Integers go as VT_I4, doubles VT_R8, texts VT_BSTR, Booleans VT_BOOL.
// A value with no text form cannot travel back and is stored as VT_EMPTY.
// Throws std::bad_alloc when a BSTR cannot be allocated.
void StoreValue(const Value& value, VARIANT* out);

// BSTR <-> UTF-8. A null BSTR is the empty text; a lone surrogate becomes
// U+FFFD. AllocBstr throws std::bad_alloc when out of memory.
std::string TextFromBstr(BSTR text);
BSTR AllocBstr(const std::string& utf8);

// The host's parameter array: a one-dimensional SAFEARRAY of VARIANTs,
// indexed from 0. An array that names VT_VARIANT as its element type,
// or names no type and has VARIANT-sized elements, is used; a missing array,
// an array of another shape or element type, or an index outside it reads as
// empty and is not written.
class SafeArrayParams : public ParamArray {
 public:
  explicit SafeArrayParams(SAFEARRAY* array) : array_(array) {}
  Value Read(int index) const override;
  void Write(int index, const Value& value) override;

 private:
  bool Usable() const;
  SAFEARRAY* array_;
};

}  // namespace vtsd::com
