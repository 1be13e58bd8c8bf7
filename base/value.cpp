#include "base/value.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace vtsd {

Value Value::Bool(bool b) {
  Value v;
  v.kind_ = Kind::Bool;
  v.b_ = b;
  return v;
}

Value Value::Int(int32_t i) {
  Value v;
  v.kind_ = Kind::Int;
  v.i_ = i;
  return v;
}

Value Value::Double(double d) {
  Value v;
  v.kind_ = Kind::Double;
  v.d_ = d;
  return v;
}

Value Value::Text(std::string utf8) {
  Value v;
  v.kind_ = Kind::Text;
  v.s_ = std::move(utf8);
  return v;
}

Value Value::Object(std::string type_name) {
  Value v;
  v.kind_ = Kind::Object;
  v.s_ = std::move(type_name);
  return v;
}

const char* KindName(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::Empty: return "Empty";
    case Value::Kind::Bool: return "Boolean";
    case Value::Kind::Int: return "Integer";
    case Value::Kind::Double: return "Double";
    case Value::Kind::Text: return "String";
    case Value::Kind::Object: return "Dispatch";
  }
  return "Unknown";
}

namespace {

[[noreturn]] void ConversionFailed(Value::Kind from, const char* to) {
  throw LibraryError(std::string("Could not convert variant of type (") + KindName(from) +
                     ") into type (" + to + ")");
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trimmed(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

bool ParseInt64(const std::string& text, int64_t& out) {
  const std::string t = Trimmed(text);
  if (t.empty() || t.size() > 20) return false;
  size_t i = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    i = 1;
  }
  if (i == t.size()) return false;
  uint64_t magnitude = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    magnitude = magnitude * 10 + static_cast<uint64_t>(t[i] - '0');
    if (magnitude > (uint64_t(1) << 62)) return false;
  }
  out = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool ParseDouble(const std::string& text, double& out) {
  const std::string t = Trimmed(text);
  if (t.empty()) return false;
  for (char c : t) {
    // Only plain decimal notation; no hexadecimal, infinities or NaN.
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
      return false;
  }
  char* end = nullptr;
  errno = 0;
  out = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && errno == 0 && std::isfinite(out);
}

bool IsWord(const std::string& t, const char* a, const char* b) {
  if (t == a || t == b) return true;
  if (t.size() != std::char_traits<char>::length(a)) return false;
  for (size_t i = 0; i < t.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(t[i])) != a[i]) return false;
  return true;
}

}  // namespace

bool ParseInt32(const std::string& text, int32_t& out) {
  int64_t v = 0;
  if (!ParseInt64(text, v)) return false;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return false;
  out = static_cast<int32_t>(v);
  return true;
}

std::string Value::ToText() const {
  switch (kind_) {
    case Kind::Empty: return std::string();
    case Kind::Bool: return b_ ? "True" : "False";
    case Kind::Int: return std::to_string(i_);
    case Kind::Double: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", d_);
      return buf;
    }
    case Kind::Text: return s_;
    case Kind::Object: break;
  }
  ConversionFailed(kind_, "String");
}

int32_t Value::ToInt32() const {
  switch (kind_) {
    case Kind::Empty: return 0;
    case Kind::Bool: return b_ ? -1 : 0;
    case Kind::Int: return i_;
    case Kind::Double: {
      if (!std::isfinite(d_)) break;
      const double r = std::nearbyint(d_);  // default rounding: half to even
      if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
        break;
      return static_cast<int32_t>(r);
    }
    case Kind::Text: {
      int32_t v = 0;
      if (ParseInt32(s_, v)) return v;
      break;
    }
    case Kind::Object: break;
  }
  ConversionFailed(kind_, "Integer");
}

bool Value::ToBool() const {
  switch (kind_) {
    case Kind::Empty: return false;
    case Kind::Bool: return b_;
    case Kind::Int: return i_ != 0;
    case Kind::Double: return d_ != 0;
    case Kind::Text: {
      const std::string t = Trimmed(s_);
      if (IsWord(t, "true", "Истина")) return true;
      if (IsWord(t, "false", "Ложь")) return false;
      double d = 0;
      if (ParseDouble(t, d)) return d != 0;
      break;
    }
    case Kind::Object: break;
  }
  ConversionFailed(kind_, "Boolean");
}

bool Value::operator==(const Value& o) const {
  if (kind_ != o.kind_) return false;
  switch (kind_) {
    case Kind::Empty: return true;
    case Kind::Bool: return b_ == o.b_;
    case Kind::Int: return i_ == o.i_;
    case Kind::Double: return d_ == o.d_;
    case Kind::Text:
    case Kind::Object: return s_ == o.s_;
  }
  return false;
}

Value ValueFromInteger(int64_t v) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
    return Value::Int(static_cast<int32_t>(v));
  return Value::Double(static_cast<double>(v));
}

Value ValueFromUnsigned(uint64_t v) {
  if (v <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return Value::Int(static_cast<int32_t>(v));
  return Value::Double(static_cast<double>(v));
}

bool NumericEquals(const Value& v, int64_t n) {
  switch (v.kind()) {
    case Value::Kind::Empty: return n == 0;
    case Value::Kind::Bool: return (v.bool_value() ? -1 : 0) == n;
    case Value::Kind::Int: return v.int_value() == n;
    case Value::Kind::Double: return v.double_value() == static_cast<double>(n);
    case Value::Kind::Text: {
      int64_t i = 0;
      if (ParseInt64(v.text_value(), i)) return i == n;
      double d = 0;
      if (ParseDouble(v.text_value(), d)) return d == static_cast<double>(n);
      throw LibraryError("Could not convert variant of type (String) into type (Double)");
    }
    case Value::Kind::Object: break;
  }
  throw LibraryError(std::string("Could not convert variant of type (") + KindName(v.kind()) +
                     ") into type (Double)");
}

}  // namespace vtsd
