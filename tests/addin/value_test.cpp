#include <gtest/gtest.h>
#include "addin/value.hpp"
TEST(Value, Placeholder) { EXPECT_EQ(vtsd::Value::Int(3).ToText(), "3"); }
