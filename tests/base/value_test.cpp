// Conversions of host values, as the handlers rely on them.
#include <limits>

#include "tests/support/component_test.hpp"

namespace vtsd {
namespace {

TEST(Value, ToText) {
  const std::pair<Value, const char*> cases[] = {
      {Value(), ""},
      {Value::Bool(true), "True"},
      {Value::Bool(false), "False"},
      {Value::Int(-42), "-42"},
      {Value::Int(std::numeric_limits<int32_t>::min()), "-2147483648"},
      {Value::Double(1.5), "1.5"},
      {Value::Double(2000), "2000"},
      {Value::Text("Текст"), "Текст"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.ToText(), text);
  EXPECT_THROW(Value::Object().ToText(), LibraryError);
  EXPECT_EQ(Value::Text(std::string(1 << 20, 'a')).ToText().size(), 1u << 20);
}

TEST(Value, ToInt32) {
  const std::pair<Value, int32_t> cases[] = {
      {Value(), 0},
      {Value::Bool(true), -1},
      {Value::Bool(false), 0},
      {Value::Int(7), 7},
      {Value::Double(2.5), 2},  // half to even
      {Value::Double(3.5), 4},
      {Value::Double(-1.5), -2},
      {Value::Text("2000"), 2000},
      {Value::Text(" -17 "), -17},
      {Value::Text("+5"), 5},
      {Value::Text("2147483647"), 2147483647},
      {Value::Text("-2147483648"), std::numeric_limits<int32_t>::min()},
  };
  for (const auto& [value, n] : cases) EXPECT_EQ(value.ToInt32(), n) << value.ToText();

  const Value failing[] = {Value::Text(""),           Value::Text("abc"),
                           Value::Text("12abc"),      Value::Text("2147483648"),
                           Value::Text("1.5"),        Value::Text("-"),
                           Value::Double(3e9),        Value::Object(),
                           Value::Text(std::string(5000, '9'))};
  for (const Value& v : failing) {
    try {
      v.ToInt32();
      ADD_FAILURE() << KindName(v.kind()) << " converted";
    } catch (const LibraryError& e) {
      // A library error carries no code mark, so GetLastError reports 66.
      const char first = e.what()[0];
      EXPECT_TRUE(first == 'C') << e.what();
    }
  }
}

TEST(Value, ToBool) {
  const std::pair<Value, bool> cases[] = {
      {Value(), false},           {Value::Bool(true), true},   {Value::Int(0), false},
      {Value::Int(-3), true},     {Value::Double(0.0), false}, {Value::Double(0.1), true},
      {Value::Text("1"), true},   {Value::Text("0"), false},   {Value::Text("True"), true},
      {Value::Text("false"), false}, {Value::Text("Истина"), true}, {Value::Text("Ложь"), false},
  };
  for (const auto& [value, b] : cases) EXPECT_EQ(value.ToBool(), b) << value.ToText();
  EXPECT_THROW(Value::Text("yes please").ToBool(), LibraryError);
  EXPECT_THROW(Value::Object().ToBool(), LibraryError);
}

// The device-ID comparison: empty counts as 0, a text by the number it spells.
TEST(Value, NumericEquals) {
  struct Case {
    Value value;
    int64_t n;
    bool equal;
  };
  const Case cases[] = {
      {Value(), 0, true},            {Value(), 5, false},         {Value::Int(0), 0, true},
      {Value::Int(812), 812, true},  {Value::Text("812"), 812, true},
      {Value::Text(" 812"), 812, true}, {Value::Text("813"), 812, false},
      {Value::Text("0"), 0, true},   {Value::Double(812.0), 812, true},
      {Value::Text("812.0"), 812, true}, {Value::Bool(false), 0, true},
  };
  for (const Case& c : cases) EXPECT_EQ(NumericEquals(c.value, c.n), c.equal) << c.value.ToText();
  for (const Value& v : {Value::Text("abc"), Value::Text("12 monkeys"), Value::Object()})
    EXPECT_THROW(NumericEquals(v, 0), LibraryError);
}

TEST(Value, Equality) {
  EXPECT_EQ(Value::Int(1), Value::Int(1));
  EXPECT_NE(Value::Int(1), Value::Text("1"));
  EXPECT_NE(Value::Int(1), Value::Bool(true));
  EXPECT_EQ(Value(), Value());
  EXPECT_NE(Value::Text(""), Value());
}

}  // namespace
}  // namespace vtsd
