// The UTF-8 <-> UTF-16 conversion behind every BSTR and wide Win32 call.
#include <gtest/gtest.h>

#include <string>

#include "platform/utf16.hpp"

namespace vtsd::platform {
namespace {

struct RoundTrip {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

TEST(Utf16, WellFormedTextConvertsBothWays) {
  const RoundTrip cases[] = {
      {"empty", "", u""},
      {"ascii", "AddIn.VemlarTSD", u"AddIn.VemlarTSD"},
      {"cyrillic", "Вемлар ТСД", u"Вемлар ТСД"},
      {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
      {"supplementary plane", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"embedded nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const RoundTrip& c : cases) {
    EXPECT_EQ(Utf16FromUtf8(c.utf8), c.utf16) << c.name;
    EXPECT_EQ(Utf8FromUtf16(c.utf16), c.utf8) << c.name;
  }
}

TEST(Utf16, LoneSurrogatesBecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  struct Case {
    const char* name;
    std::u16string in;
    std::string out;
  } cases[] = {
      {"high at end", std::u16string(u"a") + char16_t(0xD83D), "a" + r},
      {"high before ordinary", std::u16string{char16_t(0xD83D), u'x'}, r + "x"},
      {"low alone", std::u16string{u'x', char16_t(0xDE00), u'y'}, "x" + r + "y"},
      {"reversed pair", std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, r + r},
      {"two highs then low", std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)},
       r + "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8FromUtf16(c.in), c.out) << c.name;
}

TEST(Utf16, MalformedUtf8BecomesReplacementCharacters) {
  const char16_t r = 0xFFFD;
  struct Case {
    const char* name;
    std::string in;
    std::u16string out;
  } cases[] = {
      {"stray continuation", "a\x80" "b", {u'a', r, u'b'}},
      {"truncated at end", "a\xE2\x82", {u'a', r}},
      {"truncated before ascii", "\xE2\x82" "b", {r, u'b'}},
      {"overlong slash", "\xC0\xAF", {r, r}},
      {"overlong three-byte", "\xE0\x80\xAF", {r}},
      {"encoded surrogate", "\xED\xA0\x80", {r}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", {r}},
      {"invalid lead", "\xFF", {r}},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16FromUtf8(c.in), c.out) << c.name;
}

}  // namespace
}  // namespace vtsd::platform
