// The line protocol: values in and out, variables, parameter arrays sized as
// the host sizes them, dialogs listed with the call they happened in, and
// malformed lines answered with an error.
#include <gtest/gtest.h>

#include "platform/dialogs.hpp"
#include "tools/vtsd-host/scripted_dialogs.hpp"
#include "tools/vtsd-host/session.hpp"

namespace vtsd::host {
namespace {

// A component stand-in: method 0 has two parameters and shows one question
// box, then copies parameter 0 to parameter 1 and returns the box's answer.
class FakeBackend : public Backend {
 public:
  long Init() override { return 0; }
  long Done() override { return 0; }
  long GetInfo(Values& info) override { return 0; }
  long SetLocale(const std::string&) override { return 0; }
  long RegisterExtensionAs(std::string& name) override { return 0; }
  long GetNProps(long& count) override { return 0; }
  long FindProp(const std::string&, long& number) override { return 1; }
  long GetPropName(long, long, std::string&) override { return 1; }
  long GetPropVal(long, Value& value) override { return 1; }
  long SetPropVal(long, const Value& value) override {
    last_set = value;
    return 0;
  }
  long IsPropReadable(long, bool&) override { return 1; }
  long IsPropWritable(long, bool&) override { return 1; }
  long GetNMethods(long& count) override { return 0; }
  long FindMethod(const std::string& name, long& number) override {
    number = name == "Ask" ? 0 : -1;
    return number < 0 ? 1 : 0;
  }
  long GetMethodName(long, long, std::string&) override { return 1; }
  long GetNParams(long number, long& count) override {
    count = number == 0 ? 2 : 0;
    return number == 0 ? 0 : 1;
  }
  long GetParamDefValue(long, long, Value&) override { return 0; }
  long HasRetVal(long, bool& has) override { return 0; }
  long CallAsProc(long, Values&) override { return 1; }
  long CallAsFunc(long method, Value& ret, Values& params) override {
    seen_size = params.size();
    if (method != 0) return 1;
    platform::MessageBoxRequest box;
    box.kind = platform::BoxKind::Question;
    box.caption = "Vemlar TSD";
    box.text = "Replace?";
    box.safe_answer = platform::BoxAnswer::No;
    const platform::BoxAnswer answer = platform::Dialogs().ShowMessageBox(box, nullptr);
    params[1] = params[0];
    ret = Value::Int(answer == platform::BoxAnswer::Yes ? 1 : 0);
    return 0;
  }
  size_t seen_size = 0;
  Value last_set;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InstallDialogProvider(&provider); }
  void TearDown() override { platform::InstallDialogProvider(nullptr); }
  Json Line(const std::string& line) {
    auto out = session.HandleLine(line);
    EXPECT_TRUE(out.has_value()) << line;
    return out ? Json::parse(*out) : Json();
  }
  FakeBackend backend;
  DialogScript script;
  ScriptedDialogProvider provider{script};
  Session session{backend, script};
};

TEST_F(SessionTest, CallsListTheirDialogsAndUseQueuedAnswers) {
  Json out = Line(R"({"op":"CallAsFunc","method":"Ask","params":["x"]})");
  EXPECT_EQ(out["hr"], 0);
  EXPECT_EQ(out["ret"], Json::parse(R"({"vt":"i4","v":0})"));
  EXPECT_EQ(out["params"], Json::parse(R"([{"vt":"bstr","v":"x"},{"vt":"bstr","v":"x"}])"));
  ASSERT_EQ(out["dialogs"].size(), 1u);
  EXPECT_EQ(out["dialogs"][0], Json::parse(R"({"kind":"question","caption":"Vemlar TSD",
      "text":"Replace?","buttons":["Yes","No"],"action":{"press":"no"},"unanswered":true})"));

  out = Line(R"({"op":"Answer","with":[{"press":"yes","after_ms":1}]})");
  EXPECT_EQ(out["queued"], 1);
  EXPECT_FALSE(out.contains("dialogs"));
  out = Line(R"({"op":"CallAsFunc","method":0})");
  EXPECT_EQ(out["ret"]["v"], 1);
  EXPECT_EQ(out["dialogs"][0]["action"], Json::parse(R"({"press":"yes","after_ms":1})"));
  EXPECT_EQ(out["dialogs"][0]["unanswered"], false);
}

// Answers a call left unused (its dialog never came) would go to the next
// call's dialogs; "replace" drops them first.
TEST_F(SessionTest, ReplacingAnswersDropsTheOnesStillQueued) {
  EXPECT_EQ(Line(R"({"op":"Answer","with":[{"press":"no"},{"press":"no"}]})")["queued"], 2);
  EXPECT_EQ(Line(R"({"op":"Answer","replace":true,"with":[{"press":"yes"}]})")["queued"], 1);
  Json out = Line(R"({"op":"CallAsFunc","method":0})");
  EXPECT_EQ(out["ret"]["v"], 1);
  EXPECT_EQ(Line(R"({"op":"Answer","replace":"yes","with":[]})")["error"].is_string(), true);
}

TEST_F(SessionTest, ParamsAreSizedByGetNParamsAndExtraOnesPassed) {
  Line(R"({"op":"CallAsFunc","method":0})");
  EXPECT_EQ(backend.seen_size, 2u);
  Line(R"({"op":"CallAsFunc","method":0,"params":[1,2,3,4]})");
  EXPECT_EQ(backend.seen_size, 4u);
  const Json out = Line(R"({"op":"CallAsFunc","method":"Nope"})");
  EXPECT_EQ(out["hr"], 1) << "an unknown name is looked up as the host does: -1";
}

TEST_F(SessionTest, InputValuesAndSavedVariables) {
  struct Case {
    const char* json;
    Value expected;
  };
  const Case cases[] = {
      {"null", Value()},
      {"true", Value::Bool(true)},
      {"-7", Value::Int(-7)},
      {"2147483647", Value::Int(2147483647)},
      {"1.5", Value::Double(1.5)},
      {"\"текст\"", Value::Text("текст")},
      {R"({"object":true})", Value::Object()},
      {R"({"vt":"bstr","v":"5"})", Value::Text("5")},
      {R"({"vt":"empty"})", Value()},
  };
  for (const Case& c : cases) {
    const Json out = Line(std::string(R"({"op":"SetPropVal","num":0,"value":)") + c.json + "}");
    EXPECT_FALSE(out.contains("error")) << c.json << ": " << out.dump();
    EXPECT_TRUE(backend.last_set == c.expected) << c.json;
  }

  Line(R"({"op":"CallAsFunc","method":0,"params":["saved text"],"save":{"1":"copy","ret":"r"}})");
  Line(R"({"op":"SetPropVal","num":0,"value":{"var":"copy"}})");
  EXPECT_TRUE(backend.last_set == Value::Text("saved text"));
  Line(R"({"op":"SetPropVal","num":0,"value":{"var":"r"}})");
  EXPECT_TRUE(backend.last_set == Value::Int(0));
}

TEST_F(SessionTest, MalformedLinesGetAReasonAndTheSessionGoesOn) {
  const std::pair<const char*, const char*> cases[] = {
      {"not json", "not a JSON line"},
      {"[1,2]", "must be a JSON object"},
      {R"({"num":1})", "missing \"op\""},
      {R"({"op":"Launch"})", "unknown op \"Launch\""},
      {R"({"op":"GetNParams"})", "missing \"num\""},
      {R"({"op":"GetNParams","num":"4"})", "\"num\" must be an integer"},
      {R"({"op":"GetNParams","num":4294967296})", "out of the 32-bit range"},
      {R"({"op":"GetNParams","num":4,"nmu":4})", "unknown key \"nmu\""},
      {R"({"op":"SetPropVal","num":0,"value":3000000000})", "out of the 32-bit range"},
      {R"({"op":"SetPropVal","num":0,"value":{"var":"never"}})", "no saved variable \"never\""},
      {R"({"op":"SetPropVal","num":0,"value":[1]})", "not a value"},
      {R"({"op":"CallAsFunc","method":0,"params":{}})", "\"params\" must be a list"},
      {R"({"op":"CallAsFunc","method":0,"save":{"7":"x"}})", "no parameter 7"},
      {R"({"op":"CallAsFunc","method":0,"save":{"a":"x"}})", "not a parameter index"},
      {R"({"op":"CallAsFunc","method":true})", "method number or name"},
      {R"({"op":"Answer","with":[{"press":"maybe"}]})", "\"press\" must be one of"},
      {R"({"op":"Answer","with":[{"press":"ok","after_ms":-1}]})", "after_ms"},
      {R"({"op":"Answer","with":[{"choose":["A"],"press":"cancel"}]})", "\"choose\" goes with"},
      {R"({"op":"Answer","with":[{}]})", "needs \"press\""},
      {R"({"op":"Answer","with":{"press":"ok"}})", "must be a list"},
  };
  for (const auto& [line, reason] : cases) {
    const Json out = Line(line);
    ASSERT_TRUE(out.contains("error")) << line;
    EXPECT_NE(out["error"].get<std::string>().find(reason), std::string::npos)
        << line << " gave " << out["error"];
  }
  EXPECT_EQ(script.Pending(), 0u) << "a rejected Answer queues nothing";
  EXPECT_FALSE(session.HandleLine("   ").has_value());
  EXPECT_EQ(Line(R"({"op":"Init"})")["hr"], 0);
}

}  // namespace
}  // namespace vtsd::host
