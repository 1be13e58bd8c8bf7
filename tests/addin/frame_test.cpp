// Start-up, the call frame and the service methods.
#include "addin/dispatch.hpp"
#include "base/settings.hpp"
#include "base/temp_dir.hpp"
#include "tests/support/component_test.hpp"

namespace vtsd::testing {
namespace {

using FrameTest = ComponentTest;

class CountingConnection : public HostConnection {
 public:
  explicit CountingConnection(bool offers) : offers_(offers) {}
  HostRef Query(HostInterface which) override {
    asked.push_back(which);
    if (!offers_) return nullptr;
    auto ref = std::make_shared<int>(0);
    refs.push_back(ref);
    return ref;
  }
  std::vector<HostInterface> asked;
  std::vector<std::weak_ptr<int>> refs;

 private:
  bool offers_;
};

TEST_F(FrameTest, InitAsksForTheHostInterfacesInOrderAndDoneReleasesThem) {
  CountingConnection host(true);
  ASSERT_EQ(component.Init(&host), 0);
  const std::vector<HostInterface> order = {HostInterface::ErrorLog, HostInterface::AsyncEvent,
                                            HostInterface::StatusLine,
                                            HostInterface::ExtWndsSupport};
  EXPECT_EQ(host.asked, order);
  for (HostInterface h : order) EXPECT_TRUE(component.HasHostInterface(h));
  EXPECT_EQ(component.Done(), 0);
  for (HostInterface h : order) EXPECT_FALSE(component.HasHostInterface(h));
  for (const auto& ref : host.refs) EXPECT_TRUE(ref.expired()) << "reference still held";

  // A host that offers nothing is no failure.
  CountingConnection bare(false);
  EXPECT_EQ(component.Init(&bare), 0);
  EXPECT_FALSE(component.HasHostInterface(HostInterface::StatusLine));
  EXPECT_TRUE(SqliteLibraryLoaded());
}

TEST_F(FrameTest, InitTakesTheTemporaryDirectoryWithItsSeparator) {
  EXPECT_EQ(TempDir(), std::string(kTestTempDir) + "/");
  EXPECT_EQ(TempPath("Merxa.db"), std::string(kTestTempDir) + "/Merxa.db");
  setenv("TMPDIR", "/elsewhere/", 1);
  component.Init(nullptr);
  EXPECT_EQ(TempDir(), "/elsewhere/") << "no second separator";
}

TEST_F(FrameTest, InitResetsLanguageErrorAndSettingsButNotTheSourceChoice) {
  component.SetLocale("en_US");
  ASSERT_EQ(Set("propIpAdress", Value::Text("10.0.0.1")).ret.int_value(), 1);
  ASSERT_EQ(Set("propPortNumber", Value::Int(2000)).ret.int_value(), 1);
  ASSERT_EQ(Set("propTimeOut", Value::Int(30)).ret.int_value(), 1);
  ASSERT_EQ(Set("propChooseDownloadSource", Value::Bool(true)).ret.int_value(), 1);
  Call(kDoAdditionalAction, {Value::Text("x")});
  ASSERT_EQ(LastError().first, 10);

  ASSERT_EQ(component.Init(nullptr), 0);
  EXPECT_EQ(LastError(), std::make_pair(0, std::string()));
  EXPECT_EQ(GetMessageLanguage(), Language::Russian);
  EXPECT_EQ(ConnectionSettings().IpAddress, "");
  EXPECT_EQ(ConnectionSettings().PortNumber, 0);
  EXPECT_EQ(ConnectionSettings().TimeOut, -1);
  EXPECT_TRUE(ConnectionSettings().ChooseDownloadSource);
  Set("propChooseDownloadSource", Value::Bool(false));
}

TEST_F(FrameTest, GetInfoWritesElementZero) {
  VectorParams info(3);
  EXPECT_EQ(component.GetInfo(info), 0);
  EXPECT_EQ(info.values[0], Value::Text("2000"));
  EXPECT_TRUE(info.values[1].IsEmpty());
}

TEST_F(FrameTest, LocaleChoosesRussianOnlyForLowerCaseRu) {
  const std::pair<const char*, Language> cases[] = {
      {"ru_RU", Language::Russian}, {"ru", Language::Russian},     {"xx-ru", Language::Russian},
      {"RU", Language::English},    {"en_US", Language::English},  {"", Language::English},
      {"Ru", Language::English},    {"r u", Language::English},
  };
  for (const auto& [locale, language] : cases) {
    EXPECT_EQ(component.SetLocale(locale), 0);
    EXPECT_EQ(GetMessageLanguage(), language) << locale;
  }
}

TEST_F(FrameTest, MethodNumbersOutsideTheTableAnswerFalseWithReturnValueZero) {
  for (long m : {14L, -1L, 1000L}) {
    VectorParams params(2);
    params.values[0] = Value::Text("kept");
    Value ret = Value::Text("old");
    EXPECT_EQ(component.CallAsFunc(m, ret, params), 1) << m;
    EXPECT_EQ(ret, Value::Int(0)) << m;
    EXPECT_EQ(params.values[0], Value::Text("kept"));
  }
}

TEST_F(FrameTest, FailuresBecomeReturnValueZeroAndAReportedText) {
  struct Case {
    const char* what;
    std::vector<Value> params;
    long method;
    int32_t code;
  };
  const Case cases[] = {
      // A coded failure raised by a handler.
      {"DoAdditionalAction", {Value::Text("Anything")}, kDoAdditionalAction, 10},
      // A library conversion error: a parameter without text form.
      {"DoAdditionalAction with an object", {Value::Object()}, kDoAdditionalAction, 66},
      {"SetParameter with a bad value", {Value::Text("propPortNumber"), Value::Int(0)},
       kSetParameter, 8},
  };
  for (const Case& c : cases) {
    component.Init(nullptr);
    const Result r = Call(c.method, c.params);
    EXPECT_EQ(r.hr, 0) << c.what;
    EXPECT_EQ(r.ret, Value::Int(0)) << c.what << ": the return value is set to 0 first";
    EXPECT_EQ(LastError().first, c.code) << c.what;
  }
}

TEST_F(FrameTest, ServiceMethods) {
  Result version = Call(kGetVersion);
  EXPECT_EQ(version.hr, 0);
  EXPECT_EQ(version.ret, Value::Text("1.2"));
  EXPECT_TRUE(version.params.empty());

  VectorParams extra(std::vector<Value>{Value::Text("untouched")});
  Value ret;
  component.CallAsFunc(kGetVersion, ret, extra);
  EXPECT_EQ(extra.values[0], Value::Text("untouched")) << "GetVersion writes no parameter";

  Result actions = Call(kGetAdditionalActions, {Value::Text("x")});
  EXPECT_EQ(actions.ret, Value::Int(1));
  EXPECT_EQ(actions.params[0], Value::Text(""));

  component.SetLocale("en");
  EXPECT_EQ(Call(kDoAdditionalAction, {Value::Text("x")}).ret, Value::Int(0));
  EXPECT_EQ(LastError(), std::make_pair(10, std::string("Additional actions are not supported by the driver.")));
  component.SetLocale("ru");
  Call(kDoAdditionalAction, {Value()});
  EXPECT_EQ(LastError(),
            std::make_pair(10, std::string("Дополнительные действия драйвером не поддерживаются.")));
}

TEST_F(FrameTest, GetDescriptionInBothLanguages) {
  const std::string ru_text =
      "Драйвер осуществляет подключение терминалов сбора данных модельного ряда Vemlar, с "
      "установленным ПО Merxa версии 5,к системе 1С с целью обмена данными.";
  const std::string en_text =
      "Driver connects data collection terminals lineup Vemlar, with installed Merxa Version 5 "
      "system 1C to exchange data.";
  for (const auto& [locale, name, text] :
       {std::tuple<const char*, const char*, const std::string&>{"ru_RU", "Вемлар ТСД", ru_text},
        {"en_US", "Vemlar ТСД", en_text}}) {
    component.SetLocale(locale);
    const Result r = Call(kGetDescription);
    ASSERT_EQ(r.params.size(), 7u);
    EXPECT_EQ(r.ret, Value::Int(1));
    EXPECT_EQ(r.params[0], Value::Text(name));
    EXPECT_EQ(r.params[1], Value::Text(text));
    EXPECT_EQ(r.params[2], Value::Text("ТерминалСбораДанных"));
    EXPECT_EQ(r.params[3], Value::Text("1002"));
    EXPECT_EQ(r.params[4], Value::Bool(true));
    EXPECT_EQ(r.params[5], Value::Bool(true));
    // No download page yet: the text is empty rather than an address that leads nowhere.
    EXPECT_EQ(r.params[6], Value::Text(""));
  }
}

TEST_F(FrameTest, GetLastErrorSurvivesSuccessesAndRepeats) {
  component.SetLocale("en");
  Call(kDoAdditionalAction, {Value::Text("x")});
  EXPECT_EQ(LastError().first, 10);
  Set("propPortNumber", Value::Int(70000));
  const auto port = LastError();
  EXPECT_EQ(port.first, 8);
  EXPECT_EQ(Call(kGetVersion).ret, Value::Text("1.2"));
  EXPECT_EQ(LastError(), port) << "a success leaves the last failure";
  EXPECT_EQ(LastError(), port) << "reading it does not clear it";
}

}  // namespace
}  // namespace vtsd::testing
