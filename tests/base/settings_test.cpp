// The connection settings: validators, SetParameter, properties, the
// description texts and the required-settings check.
#include "base/settings.hpp"
#include "tests/support/component_test.hpp"

namespace vtsd::testing {
namespace {

using SettingsTest = ComponentTest;

// Code of the failure the callable raises in English, or 0 when it passes;
// the text goes to `text`.
template <typename F>
int Outcome(F f, std::string* text = nullptr) {
  try {
    f();
    return 0;
  } catch (const DriverError& e) {
    if (text) *text = e.text();
    return CodeOfMark(e.text());
  }
}

const char kIpMessageEn[] =
    "8Error initializing \"IP Address\".\rIP address must match the format of numbers only "
    "\"0-255.0-255.0-255.0-255\"";
const char kPortMessageEn[] =
    "8Error initializing \"Port Number\".\rThe port number must be a value type number not less "
    "than 0 and not greater than 65535.";
const char kTimeOutMessageEn[] =
    "8Error initializing \"timeout\".\rWaiting time should be set not less than 0 and not more 2 "
    "147 483 647";
const char kInvalidTypeEn[] = "8Error during installation. Invalid data type in the parameter.";

TEST(Validators, IpAddressNeedsADottedQuadSomewhere) {
  SetMessageLanguage(Language::English);
  const std::pair<const char*, bool> cases[] = {
      {"192.168.1.30", true},
      {"192.168.1.30 ", true},
      {"host 192.168.1.30", true},
      {"0.0.0.0", true},
      {"255.255.255.255", true},
      {"ip=10.0.0.1;", true},
      {"01.02.03.04", true},
      {"адрес 10.0.0.1", true},
      {"192.168.1.300", false},
      {"256.1.1.1", false},
      {"192.168.1", false},
      {"192.168.1.", false},
      {"1.2.3.4a", false},
      {"a1.2.3.4", false},
      {"localhost", false},
      {"", false},
      {"1..2.3.4", false},
  };
  for (const auto& [text, ok] : cases) {
    std::string message;
    EXPECT_EQ(Outcome([&] { ValidateIpAddress(text); }, &message), ok ? 0 : 8) << text;
    if (!ok) {
      EXPECT_EQ(message, kIpMessageEn) << text;
    }
  }
}

TEST(Validators, PortAndTimeOutRanges) {
  SetMessageLanguage(Language::English);
  struct Case {
    const char* text;
    int32_t port;     // 0: refused
    bool timeout_ok;
  };
  const Case cases[] = {
      {"0", 0, true},           {"1", 1, true},         {"65535", 65535, true},
      {"65536", 0, true},       {"-5", 0, false},       {"-1", 0, false},
      {"2147483647", 0, true},  {"2147483648", 0, false}, {"", 0, false},
      {"abc", 0, false},        {"12a", 0, false},      {"1.5", 0, false},
      {"99999999999999999999999", 0, false},
  };
  for (const Case& c : cases) {
    std::string message;
    if (c.port) {
      EXPECT_EQ(ValidatePort(c.text), c.port) << c.text;
    } else {
      EXPECT_EQ(Outcome([&] { ValidatePort(c.text); }, &message), 8) << c.text;
      EXPECT_EQ(message, kPortMessageEn);
    }
    message.clear();
    EXPECT_EQ(Outcome([&] { ValidateTimeOut(c.text); }, &message), c.timeout_ok ? 0 : 8) << c.text;
    if (!c.timeout_ok) {
      EXPECT_EQ(message, kTimeOutMessageEn);
    }
  }
  EXPECT_EQ(ValidateTimeOut("0"), 0);
  EXPECT_EQ(ValidateTimeOut("30"), 30);
}

TEST(Validators, BooleanAcceptsNothingAboveOne) {
  const std::pair<Value, bool> cases[] = {
      {Value::Bool(true), true},   {Value::Bool(false), true}, {Value::Int(0), true},
      {Value::Int(1), true},       {Value::Int(-7), true},     {Value::Int(2), false},
      {Value::Text("1"), true},    {Value::Text("2"), false},  {Value::Text("true"), true},
      {Value::Text("Ложь"), true}, {Value::Text("maybe"), false}, {Value::Double(1.0), true},
      {Value::Double(2.0), false}, {Value::Object(), false},   {Value(), true},
  };
  for (const auto& [value, ok] : cases) {
    bool passed = true;
    try {
      ValidateBoolean(value);
    } catch (const std::exception&) {
      passed = false;
    }
    EXPECT_EQ(passed, ok) << KindName(value.kind()) << " " << (value.kind() == Value::Kind::Object ? "" : value.ToText());
  }
}

TEST_F(SettingsTest, SetParameterStoresOnlyValuesThatPass) {
  component.SetLocale("en");
  struct Case {
    const char* name;
    Value value;
    int code;  // 0: accepted
  };
  const Case cases[] = {
      {"propPortNumber", Value::Int(0), 8},
      {"propPortNumber", Value::Int(65536), 8},
      {"propPortNumber", Value::Int(1), 0},
      {"propPortNumber", Value::Int(65535), 0},
      {"propPortNumber", Value::Text("2000"), 0},
      {"propTimeOut", Value::Int(-5), 8},
      {"propTimeOut", Value::Int(0), 0},
      {"propIpAdress", Value::Text("192.168.1.300"), 8},
      {"propIpAdress", Value::Text("192.168.1.30"), 0},
      {"propIpAdress", Value::Text("server 192.168.1.30"), 0},
      {"propIpAdress", Value::Object(), 8},
      {"propChooseDownloadSource", Value::Int(2), 8},
      {"propChooseDownloadSource", Value::Bool(true), 0},
      {"propChooseDownloadSource", Value::Bool(false), 0},
      {"propChooseDownloadSource", Value::Int(0), 0},
      {"propChooseDownloadSource", Value::Int(1), 0},
      {"ИПАдрес", Value::Text("10.0.0.1"), 8},
      {"propipadress", Value::Text("10.0.0.1"), 8},
  };
  for (const Case& c : cases) {
    const ConnectionSettingsRecord before = ConnectionSettings();
    const Result r = Set(c.name, c.value);
    EXPECT_EQ(r.hr, 0);
    EXPECT_EQ(r.ret, Value::Int(c.code ? 0 : 1)) << c.name;
    if (c.code) {
      EXPECT_EQ(LastError().first, c.code) << c.name;
      EXPECT_EQ(ConnectionSettings().IpAddress, before.IpAddress) << c.name;
      EXPECT_EQ(ConnectionSettings().PortNumber, before.PortNumber) << c.name;
      EXPECT_EQ(ConnectionSettings().TimeOut, before.TimeOut) << c.name;
      EXPECT_EQ(ConnectionSettings().ChooseDownloadSource, before.ChooseDownloadSource);
    }
  }
  // The last accepted value of each setting, stored whole.
  EXPECT_EQ(ConnectionSettings().IpAddress, "server 192.168.1.30");
  EXPECT_EQ(ConnectionSettings().PortNumber, 2000);
  EXPECT_EQ(ConnectionSettings().TimeOut, 0);
  EXPECT_TRUE(ConnectionSettings().ChooseDownloadSource);
  Set("propChooseDownloadSource", Value::Bool(false));
}

TEST_F(SettingsTest, SetParameterMessagesNameTheParameter) {
  struct Case {
    const char* locale;
    Value name;
    Value value;
    std::string description;
  };
  const Case cases[] = {
      {"en", Value::Text("ИПАдрес"), Value::Text("1.2.3.4"),
       "Error when setting. Parameter name ИПАдрес missing"},
      {"ru", Value::Text("Port"), Value::Int(1),
       "Ошибка при установке параметров. Параметр с именем Port отсутствует"},
      {"en", Value::Object(), Value::Int(1),
       "Error during installation. Invalid data type in the parameter name."},
      {"en", Value::Text("propTimeOut"), Value::Object(),
       "Error during installation. Invalid data type in the parameter."},
      {"ru", Value::Text("propChooseDownloadSource"), Value::Int(2),
       "Ошибка при установке параметров. Неверный тип данных у параметра."},
      {"en", Value::Text("propChooseDownloadSource"), Value::Text("maybe"),
       "Error during installation. Invalid data type in the parameter."},
  };
  for (const Case& c : cases) {
    component.SetLocale(c.locale);
    const Result r = Call(kSetParameter, {c.name, c.value});
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(LastError(), std::make_pair(8, c.description));
  }
}

TEST_F(SettingsTest, PropertiesReadTheSettingsAndKeepPerObjectCopies) {
  Value v;
  const std::pair<long, Value> initial[] = {{0, Value::Text("")},
                                            {1, Value::Text("0")},
                                            {2, Value::Text("-1")}};
  for (const auto& [number, expected] : initial) {
    EXPECT_EQ(component.GetPropVal(number, v), 0);
    EXPECT_EQ(v, expected) << number;
  }
  EXPECT_EQ(component.GetPropVal(3, v), 0);
  EXPECT_EQ(v.kind(), Value::Kind::Bool);

  v = Value::Text("stale");
  EXPECT_EQ(component.GetPropVal(4, v), 1);
  EXPECT_TRUE(v.IsEmpty()) << "emptied before the number is checked";
  EXPECT_EQ(component.SetPropVal(4, Value::Int(1)), 1);

  // A write through one object is the process-wide setting every object reads.
  Component other;
  EXPECT_EQ(component.SetPropVal(0, Value::Text("10.1.1.1")), 0);
  EXPECT_EQ(component.SetPropVal(1, Value::Int(2000)), 0);
  EXPECT_EQ(component.SetPropVal(2, Value::Text("15")), 0);
  EXPECT_EQ(component.SetPropVal(3, Value::Int(1)), 0);
  EXPECT_EQ(ConnectionSettings().IpAddress, "10.1.1.1");
  EXPECT_EQ(other.GetPropVal(1, v), 0);
  EXPECT_EQ(v, Value::Text("2000"));
  EXPECT_EQ(other.prop_PortNumber(), "2000");
  EXPECT_EQ(other.prop_IpAdress(), "") << "only its own reads refresh an object's copy";
  EXPECT_EQ(other.GetPropVal(3, v), 0);
  EXPECT_EQ(v, Value::Bool(true));
  EXPECT_TRUE(component.prop_ChooseDownloadSource());

  // A rejected write: the setting stays, the copy keeps the rejected text
  // until the next read, and the failure is reported as code 8.
  EXPECT_EQ(component.SetPropVal(1, Value::Text("letters")), 0);
  EXPECT_EQ(component.prop_PortNumber(), "letters");
  EXPECT_EQ(LastError().first, 8);
  EXPECT_EQ(component.GetPropVal(1, v), 0);
  EXPECT_EQ(v, Value::Text("2000"));
  EXPECT_EQ(component.prop_PortNumber(), "2000");

  // The Russian name reaches the same setting through the property.
  long number = -1;
  component.FindProp("ИПАдрес", number);
  EXPECT_EQ(component.SetPropVal(number, Value::Text("10.9.9.9")), 0);
  EXPECT_EQ(ConnectionSettings().IpAddress, "10.9.9.9");

  const std::pair<long, Value> rejected[] = {{0, Value::Text("none")},
                                            {2, Value::Int(-5)},
                                            {3, Value::Int(2)},
                                            {1, Value::Object()}};
  for (const auto& [n, value] : rejected) {
    component.Init(nullptr);
    EXPECT_EQ(component.SetPropVal(n, value), 0) << n;
    EXPECT_EQ(LastError().first, 8) << n;
  }
  // A value without text form fails before the number is looked at.
  component.Init(nullptr);
  EXPECT_EQ(component.SetPropVal(9, Value::Object()), 0);
  EXPECT_EQ(LastError().first, 8);
  component.SetPropVal(3, Value::Bool(false));
}

TEST_F(SettingsTest, RequiredSettingsAreCheckedInOrder) {
  component.SetLocale("en");
  std::string text;
  EXPECT_EQ(Outcome([] { RequireConnectionSettings(); }, &text), 8);
  EXPECT_EQ(text, "8IP address is not specified, specify the IP address settings.");
  Set("propIpAdress", Value::Text("127.0.0.1"));
  Outcome([] { RequireConnectionSettings(); }, &text);
  EXPECT_EQ(text, "8The port number is not specified, set the port number settings.");
  Set("propPortNumber", Value::Int(1));
  Outcome([] { RequireConnectionSettings(); }, &text);
  EXPECT_EQ(text, "8The waiting time is not set, set the timeout settings.");
  Set("propTimeOut", Value::Int(0));
  EXPECT_EQ(Outcome([] { RequireConnectionSettings(); }), 0);
  component.SetLocale("ru");
  component.Init(nullptr);
  Outcome([] { RequireConnectionSettings(); }, &text);
  EXPECT_EQ(text, "8ИП адрес не задан, задайте в настройках ИП адрес.");
}

// The description must reach the host's form byte for byte.
TEST_F(SettingsTest, GetParametersReturnsTheDescriptionOfTheLanguage) {
  const std::string en =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
      "<Settings>\r\n"
      "<Page Caption=\"Options\">\r\n"
      "  <Group Caption=\"Connection settings\">\r\n"
      "<Parameter Name=\"propIpAdress\" Caption=\"IP address of the server\" Description=\"This field must be specified IP server that connects to the TSD.\" TypeValue=\"String\" DefaultValue=\"0.0.0.0\"/>\r\n"
      "<Parameter Name=\"propPortNumber\" Caption=\"Port number to connect\" Description=\"This field must be specified port number to connect.\" TypeValue=\"Number\" DefaultValue=\"2000\"/>\r\n"
      "<Parameter Name=\"propTimeOut\" Caption=\"Connection timeout\" Description=\"This field shall specify the time waiting for a connection.\" TypeValue=\"Number\" DefaultValue=\"30\"/>\r\n"
      "<Parameter Name=\"propChooseDownloadSource\" Caption=\"Choose a download source\" Description=\"If enabled, it will be offered the choice of a download source. Overhead or selection.\" TypeValue=\"Boolean\" DefaultValue=\"0\"/>\r\n"
      "</Group>\r\n"
      "</Page> \r\n"
      "</Settings>\r\n";
  const std::string ru =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
      "<Settings>\r\n"
      "<Page Caption=\"Параметры\">\r\n"
      "  <Group Caption=\"Параметры подключения\">\r\n"
      "<Parameter Name=\"propIpAdress\" Caption=\"IP адрес сервера\" Description=\"В данном поле должен быть указан IP сервера, к которому подключается ТСД.\" TypeValue=\"String\" DefaultValue=\"0.0.0.0\"/>\r\n"
      "<Parameter Name=\"propPortNumber\" Caption=\"Номер порта для подключения\" Description=\"В данном поле должен быть указан номер порта для подключения.\" TypeValue=\"Number\" DefaultValue=\"2000\"/>\r\n"
      "<Parameter Name=\"propTimeOut\" Caption=\"Время ожидания подключения\" Description=\"В данном поле должно быть указано время ожидания подключения.\" TypeValue=\"Number\" DefaultValue=\"30\"/>\r\n"
      "<Parameter Name=\"propChooseDownloadSource\" Caption=\"Выбирать источник загрузки\" Description=\"Если параметр включен, то будет предложен выбор источника загрузки. Накладные или Подбор.\" TypeValue=\"Boolean\" DefaultValue=\"0\"/>\r\n"
      "</Group>\r\n"
      "</Page> \r\n"
      "</Settings>\r\n";

  Result r = Call(kGetParameters);
  EXPECT_EQ(r.ret, Value::Int(1));
  EXPECT_EQ(r.params[0], Value::Text(ru)) << "Russian after Init";
  component.SetLocale("en_GB");
  r = Call(kGetParameters);
  EXPECT_EQ(r.params[0], Value::Text(en));
}

}  // namespace
}  // namespace vtsd::testing
