#include "base/settings.hpp"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

namespace vtsd {

namespace settings_text {
const Msg kInvalidType{"8Ошибка при установке параметров. Неверный тип данных у параметра.",
                       "8Error during installation. Invalid data type in the parameter."};
const Msg kInvalidName{
    "8Ошибка при установке параметров. Неверный тип данных у Имени параметра.",
    "8Error during installation. Invalid data type in the parameter name."};
}  // namespace settings_text

namespace {

const Msg kBadIpAddress{
    "8Ошибка при инициализации \"ИП Адрес\".\rИП Адрес должен соответствовать формату только "
    "цифры \"0-255.0-255.0-255.0-255\"",
    "8Error initializing \"IP Address\".\rIP address must match the format of numbers only "
    "\"0-255.0-255.0-255.0-255\""};
const Msg kBadPort{
    "8Ошибка при инициализации \"Номер порта\".\rНомер порта должен иметь тип значения число, не "
    "меньше 0 и не больше 65535.",
    "8Error initializing \"Port Number\".\rThe port number must be a value type number not less "
    "than 0 and not greater than 65535."};
const Msg kBadTimeOut{
    "8Ошибка при инициализации \"Времени Ожидания\".\rВремени Ожидания должно иметь значение не "
    "меньше 0 и не больше 2 147 483 647",
    "8Error initializing \"timeout\".\rWaiting time should be set not less than 0 and not more 2 "
    "147 483 647"};
const Msg kIpNotSet{"8ИП адрес не задан, задайте в настройках ИП адрес.",
                    "8IP address is not specified, specify the IP address settings."};
const Msg kPortNotSet{"8Номер порта не задан, задайте в настройках Номер порта.",
                      "8The port number is not specified, set the port number settings."};
const Msg kTimeOutNotSet{"8Время ожидания не задан, задайте в настройках Время ожидания.",
                         "8The waiting time is not set, set the timeout settings."};

constexpr const char* kIpPattern =
    R"(\b(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.)"
    R"((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\b)";

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};

const pcre2_code* IpExpression() {
  static const std::unique_ptr<pcre2_code, CodeDeleter> code([] {
    int error = 0;
    PCRE2_SIZE offset = 0;
    return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kIpPattern), PCRE2_ZERO_TERMINATED, 0,
                         &error, &offset, nullptr);
  }());
  return code.get();
}

const char kDescriptionEn[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
    "<Settings>\r\n"
    "<Page Caption=\"Options\">\r\n"
    "  <Group Caption=\"Connection settings\">\r\n"
    "<Parameter Name=\"propIpAdress\" Caption=\"IP address of the server\" Description=\"This "
    "field must be specified IP server that connects to the TSD.\" TypeValue=\"String\" "
    "DefaultValue=\"0.0.0.0\"/>\r\n"
    "<Parameter Name=\"propPortNumber\" Caption=\"Port number to connect\" Description=\"This "
    "field must be specified port number to connect.\" TypeValue=\"Number\" "
    "DefaultValue=\"2000\"/>\r\n"
    "<Parameter Name=\"propTimeOut\" Caption=\"Connection timeout\" Description=\"This field "
    "shall specify the time waiting for a connection.\" TypeValue=\"Number\" "
    "DefaultValue=\"30\"/>\r\n"
    "<Parameter Name=\"propChooseDownloadSource\" Caption=\"Choose a download source\" "
    "Description=\"If enabled, it will be offered the choice of a download source. Overhead or "
    "selection.\" TypeValue=\"Boolean\" DefaultValue=\"0\"/>\r\n"
    "</Group>\r\n"
    "</Page> \r\n"
    "</Settings>\r\n";

const char kDescriptionRu[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
    "<Settings>\r\n"
    "<Page Caption=\"Параметры\">\r\n"
    "  <Group Caption=\"Параметры подключения\">\r\n"
    "<Parameter Name=\"propIpAdress\" Caption=\"IP адрес сервера\" Description=\"В данном поле "
    "должен быть указан IP сервера, к которому подключается ТСД.\" TypeValue=\"String\" "
    "DefaultValue=\"0.0.0.0\"/>\r\n"
    "<Parameter Name=\"propPortNumber\" Caption=\"Номер порта для подключения\" Description=\"В "
    "данном поле должен быть указан номер порта для подключения.\" TypeValue=\"Number\" "
    "DefaultValue=\"2000\"/>\r\n"
    "<Parameter Name=\"propTimeOut\" Caption=\"Время ожидания подключения\" Description=\"В "
    "данном поле должно быть указано время ожидания подключения.\" TypeValue=\"Number\" "
    "DefaultValue=\"30\"/>\r\n"
    "<Parameter Name=\"propChooseDownloadSource\" Caption=\"Выбирать источник загрузки\" "
    "Description=\"Если параметр включен, то будет предложен выбор источника загрузки. Накладные "
    "или Подбор.\" TypeValue=\"Boolean\" DefaultValue=\"0\"/>\r\n"
    "</Group>\r\n"
    "</Page> \r\n"
    "</Settings>\r\n";

ConnectionSettingsRecord g_settings;

}  // namespace

ConnectionSettingsRecord& ConnectionSettings() { return g_settings; }

void ResetConnectionSettings() {
  g_settings.IpAddress.clear();
  g_settings.PortNumber = 0;
  g_settings.TimeOut = -1;
}

void ValidateIpAddress(const std::string& text) {
  const pcre2_code* code = IpExpression();
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> match(
      pcre2_match_data_create_from_pattern(code, nullptr));
  const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                             match.get(), nullptr);
  if (rc < 0) Raise(kBadIpAddress);
}

uint16_t ValidatePort(const std::string& text) {
  int32_t n = 0;
  if (!ParseInt32(text, n) || n < 1 || n > 65535) Raise(kBadPort);
  return static_cast<uint16_t>(n);
}

int32_t ValidateTimeOut(const std::string& text) {
  int32_t n = 0;
  if (!ParseInt32(text, n) || n < 0) Raise(kBadTimeOut);
  return n;
}

void ValidateBoolean(const Value& value) {
  int32_t n = 0;
  if (value.kind() == Value::Kind::Text) {
    // Text from the host's form: a number, or the words for true and false.
    n = value.ToBool() ? -1 : 0;
    int32_t parsed = 0;
    if (ParseInt32(value.text_value(), parsed)) n = parsed;
  } else {
    n = value.ToInt32();
  }
  if (n > 1) Raise(settings_text::kInvalidType);
}

void RequireConnectionSettings() {
  if (g_settings.IpAddress.empty()) Raise(kIpNotSet);
  if (g_settings.PortNumber == 0) Raise(kPortNotSet);
  if (g_settings.TimeOut == -1) Raise(kTimeOutNotSet);
}

const char* SettingsDescription(Language language) {
  return language == Language::Russian ? kDescriptionRu : kDescriptionEn;
}

void HandleGetParameters(MethodCall& call) {
  call.WriteParam(0, Value::Text(SettingsDescription(GetMessageLanguage())));
  call.ret = Value::Int(1);
}

void HandleSetParameter(MethodCall& call) {
  std::string name, value;
  try {
    name = call.ReadParam(0).ToText();
  } catch (const std::exception&) {
    Raise(settings_text::kInvalidName);
  }
  try {
    value = call.ReadParam(1).ToText();
  } catch (const std::exception&) {
    Raise(settings_text::kInvalidType);
  }
  if (name == "propIpAdress") {
    ValidateIpAddress(value);
    g_settings.IpAddress = value;
  } else if (name == "propPortNumber") {
    g_settings.PortNumber = ValidatePort(value);
  } else if (name == "propTimeOut") {
    g_settings.TimeOut = ValidateTimeOut(value);
  } else if (name == "propChooseDownloadSource") {
    bool flag = false;
    try {
      const Value v = call.ReadParam(1);
      ValidateBoolean(v);
      flag = v.ToBool();
    } catch (const std::exception&) {
      Raise(settings_text::kInvalidType);
    }
    g_settings.ChooseDownloadSource = flag;
  } else {
    call.ret = Value::Int(0);
    if (GetMessageLanguage() == Language::Russian)
      RaiseText("8Ошибка при установке параметров. Параметр с именем " + name + " отсутствует");
    RaiseText("8Error when setting. Parameter name " + name + " missing");
  }
  call.ret = Value::Int(1);
}

}  // namespace vtsd
