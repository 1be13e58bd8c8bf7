#include "link/terminal_id.hpp"

#include <gtest/gtest.h>

namespace vtsd {
namespace {

TEST(TerminalIdText, OnlyThirtyTwoLowerHexDigitsAndALineEnd) {
  const std::string id = "0123456789abcdef0123456789abcdef";
  const struct {
    std::string text;
    bool is_id;
  } cases[] = {
      {id, true},
      {id + "\r\n", true},
      {id + "\n", true},
      {id + "\r\n\r\n", false},
      {id + " ", false},
      {id.substr(1), false},
      {"0123456789ABCDEF0123456789ABCDEF", false},
      {"0123456789abcdeg0123456789abcdef", false},
      {"", false},
      {std::string(32, '\0'), false},
  };
  for (const auto& c : cases) {
    std::string parsed = "unchanged";
    EXPECT_EQ(ParseTerminalId(c.text, parsed), c.is_id) << c.text;
    EXPECT_EQ(parsed, c.is_id ? id : "unchanged") << c.text;
  }
}

}  // namespace
}  // namespace vtsd
