// Readable host values in test failure messages: the kind, then the text of
// any value that has one.
#pragma once

#include <ostream>

#include "base/value.hpp"

namespace vtsd {
inline void PrintTo(const Value& v, std::ostream* os) {
  *os << KindName(v.kind());
  if (v.kind() != Value::Kind::Object && v.kind() != Value::Kind::Empty) *os << "(" << v.ToText() << ")";
}
}  // namespace vtsd
