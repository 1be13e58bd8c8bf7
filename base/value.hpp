// Values that cross the host boundary: what 1C passes in a parameter array
// or a property, and what the driver hands back. The COM adapter maps VARIANTs
// onto this type; the Linux host harness maps JSON values onto it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vtsd {

// A failure raised by a conversion, as a library raises it: its text carries
// no code mark, so GetLastError reports it as code 66.
class LibraryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Value {
 public:
  enum class Kind { Empty, Bool, Int, Double, Text, Object };

  Value() = default;
  static Value Bool(bool b);
  static Value Int(int32_t i);
  static Value Double(double d);
  static Value Text(std::string utf8);
  // A value with no text form: an object, an array, an interface pointer.
  static Value Object(std::string type_name = "Dispatch");

  Kind kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == Kind::Empty; }

  // Raw access; valid only for the matching kind.
  bool bool_value() const { return b_; }
  int32_t int_value() const { return i_; }
  double double_value() const { return d_; }
  const std::string& text_value() const { return s_; }
  const std::string& object_type() const { return s_; }

  // Conversions with the semantics of the host's variant conversions.
  // Text: empty gives "", Booleans "True"/"False", numbers their decimal text;
  // objects have no text form and fail.
  std::string ToText() const;
  // Int32: empty gives 0, Booleans -1/0, doubles round half to even, texts must
  // spell an integer; anything else, or a number out of range, fails.
  int32_t ToInt32() const;
  // Bool: numbers are true when non-zero; texts may spell a number or one of
  // true/false (also the Russian words); anything else fails.
  bool ToBool() const;

  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

 private:
  Kind kind_ = Kind::Empty;
  bool b_ = false;
  int32_t i_ = 0;
  double d_ = 0;
  std::string s_;
};

// An integer a host passed: Int when it fits 32 bits, Double otherwise.
Value ValueFromInteger(int64_t v);
Value ValueFromUnsigned(uint64_t v);

// Numeric comparison of a host value with an integer, as the device-ID checks
// do it: empty counts as 0, a text counts by the number it spells, and a text
// that is no number makes the comparison fail with a LibraryError.
bool NumericEquals(const Value& v, int64_t n);

// Parses a decimal integer text (optional blanks around it, optional sign).
// Returns false when the text is not such a number or does not fit.
bool ParseInt32(const std::string& text, int32_t& out);

const char* KindName(Value::Kind kind);

}  // namespace vtsd
