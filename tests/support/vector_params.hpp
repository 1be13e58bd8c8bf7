// The host's parameter array over a vector: elements past the end read as
// empty and are not written, as with the host's own array.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "base/params.hpp"
#include "base/value.hpp"

namespace vtsd::test {

class VectorParams : public ParamArray {
 public:
  explicit VectorParams(std::size_t size) : values(size) {}
  explicit VectorParams(std::vector<Value> v) : values(std::move(v)) {}
  Value Read(int index) const override {
    return index >= 0 && static_cast<std::size_t>(index) < values.size() ? values[index] : Value();
  }
  void Write(int index, const Value& value) override {
    if (index >= 0 && static_cast<std::size_t>(index) < values.size()) values[index] = value;
  }
  std::vector<Value> values;
};

}  // namespace vtsd::test
