// The mark-to-code mapping behind GetLastError, and raising in the language
// in force.
#include "tests/support/component_test.hpp"

namespace vtsd::testing {
namespace {

TEST(Messages, EveryMarkMapsToItsCodeAndIsCutOff) {
  const std::pair<const char*, int32_t> marks[] = {
      {"1", 1}, {"2", 2}, {"3", 3},   {"4", 4},   {"5", 5},   {"6", 6},
      {"7", 7}, {"8", 8}, {"9", 9}, {"*", 10}, {"~", 11}, {"№", 12},
  };
  for (const auto& [mark, code] : marks) {
    const ErrorReport report = MapReportedError(std::string(mark) + "Text after the mark",
                                                Language::Russian);
    EXPECT_EQ(report.code, code) << mark;
    EXPECT_EQ(report.description, "Text after the mark") << mark;
    // A text that is the mark alone.
    EXPECT_EQ(MapReportedError(mark, Language::English).code, code) << mark;
    EXPECT_EQ(MapReportedError(mark, Language::English).description, "") << mark;
  }
}

TEST(Messages, TextsWithoutAMark) {
  struct Case {
    std::string text;
    Language language;
    int32_t code;
    std::string description;
  };
  const Case cases[] = {
      {" ", Language::English, 0, ""},
      {"", Language::Russian, 0, ""},
      {"x", Language::Russian, 0, ""},
      {"Ж", Language::Russian, 0, ""},  // one character of two bytes
      {"0", Language::Russian, 0, ""},
      {"Could not convert variant", Language::English, 66, "The error is not known."},
      {"\"quoted\"", Language::Russian, 66, "Ошибка не известна."},
      {"Ошибка", Language::English, 66, "The error is not known."},
      {"0 is not a mark", Language::English, 66, "The error is not known."},
      {" 8 a blank first", Language::English, 66, "The error is not known."},
      {"N12", Language::English, 66, "The error is not known."},
  };
  for (const Case& c : cases) {
    const ErrorReport r = MapReportedError(c.text, c.language);
    EXPECT_EQ(r.code, c.code) << c.text;
    EXPECT_EQ(r.description, c.description) << c.text;
  }
}

TEST(Messages, RaiseUsesTheLanguageInForce) {
  const Msg msg{"5по-русски", "5in English"};
  for (const auto& [language, text] : {std::pair<Language, const char*>{Language::Russian, "5по-русски"},
                                       {Language::English, "5in English"}}) {
    SetMessageLanguage(language);
    try {
      Raise(msg);
      ADD_FAILURE() << "Raise returned";
    } catch (const DriverError& e) {
      EXPECT_EQ(e.text(), text);
      EXPECT_STREQ(e.what(), text);
    }
  }
}

using ReportedErrorTest = ComponentTest;

// The description of a marked failure keeps the language it was raised in;
// only the "not known" text follows the language at the time of the call.
TEST_F(ReportedErrorTest, LanguageOfTheDescription) {
  component.SetLocale("ru_RU");
  Set("propTimeOut", Value::Int(-5));
  component.SetLocale("en_US");
  const auto marked = LastError();
  EXPECT_EQ(marked.first, 8);
  EXPECT_EQ(marked.second.rfind("Ошибка при инициализации", 0), 0u) << marked.second;

  // A library error raised while Russian is reported in English now.
  component.SetLocale("ru_RU");
  Call(kDoAdditionalAction, {Value::Object()});
  component.SetLocale("en_US");
  EXPECT_EQ(LastError(), std::make_pair(66, std::string("The error is not known.")));
  component.SetLocale("ru_RU");
  EXPECT_EQ(LastError(), std::make_pair(66, std::string("Ошибка не известна.")));
}

TEST_F(ReportedErrorTest, CodeNineNeverOccursForTheFrameMessages) {
  // Every failure the frame and the settings can raise carries a mark other
  // than "9".
  component.SetLocale("en");
  const std::vector<std::vector<Value>> bad_calls = {
      {Value::Text("propPortNumber"), Value::Text("x")},
      {Value::Text("propIpAdress"), Value::Text("x")},
      {Value::Text("propTimeOut"), Value::Text("x")},
      {Value::Text("propChooseDownloadSource"), Value::Int(5)},
      {Value::Text("nothing"), Value::Int(5)},
  };
  for (const auto& params : bad_calls) {
    Call(kSetParameter, params);
    EXPECT_EQ(LastError().first, 8);
  }
}

}  // namespace
}  // namespace vtsd::testing
