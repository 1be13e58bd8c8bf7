// Shared pieces of the component-frame tests: a fixture that gives each test
// a freshly initialised component whose temporary directory is a path of the
// test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "addin/component.hpp"
#include "base/messages.hpp"
#include "addin/names.hpp"
#include "base/params.hpp"
#include "base/value.hpp"
#include "tests/support/value_print.hpp"
#include "tests/support/vector_params.hpp"

namespace vtsd::testing {

using test::VectorParams;

// Nothing is written to the temporary directory by these tests; the path
// only shows that Init took it from the environment.
constexpr const char* kTestTempDir = "/nonexistent/vtsd-addin-tests";

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TMPDIR", kTestTempDir, 1);
    ASSERT_EQ(component.Init(nullptr), 0);
  }

  struct Result {
    long hr;
    Value ret;
    std::vector<Value> params;
  };
  // Calls a driver method by number with the array sized as the host sizes it.
  Result Call(long method, std::vector<Value> given = {}) {
    long count = 0;
    component.GetNParams(method, count);
    if (given.size() < static_cast<size_t>(count)) given.resize(count);
    VectorParams params(std::move(given));
    Value ret = Value::Text("not set by the call");
    const long hr = component.CallAsFunc(method, ret, params);
    return {hr, ret, params.values};
  }
  // GetLastError's code and description.
  std::pair<int32_t, std::string> LastError() {
    Result r = Call(kGetLastError);
    return {r.ret.int_value(), r.params[0].text_value()};
  }
  Result Set(const char* name, Value value) {
    return Call(kSetParameter, {Value::Text(name), std::move(value)});
  }

  Component component;
};

}  // namespace vtsd::testing
