// Element access to the host's parameter array, and the frame a driver
// method's handler runs in.
#pragma once

#include <string>

#include "base/messages.hpp"
#include "base/value.hpp"

namespace vtsd {

// The host's one-dimensional parameter array, indexed from 0. The COM adapter
// wraps a SAFEARRAY of VARIANTs; the host harness and the tests a vector.
class ParamArray {
 public:
  virtual ~ParamArray() = default;
  // An element that cannot be read yields an empty value.
  virtual Value Read(int index) const = 0;
  // An element that cannot be written is silently not written.
  virtual void Write(int index, const Value& value) = 0;
};

// What a handler receives: the parameter array and the return value.
struct MethodCall {
  ParamArray& params;
  Value& ret;

  Value ReadParam(int i) const { return params.Read(i); }
  void WriteParam(int i, const Value& v) { params.Write(i, v); }
};

// A parameter's text, or `wrong_type` raised when the value has none (an
// object, an array, a value the host cannot show as a string).
inline std::string ParamText(const Value& value, const Msg& wrong_type) {
  try {
    return value.ToText();
  } catch (const LibraryError&) {
    Raise(wrong_type);
  }
}

}  // namespace vtsd
