#include "addin/component.hpp"

#include <exception>
#include <string>

#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "addin/names.hpp"
#include "base/settings.hpp"
#include "addin/methods.hpp"
#include "catalogue/handlers.hpp"
#include "link/handlers.hpp"
#include "base/temp_dir.hpp"
#include "platform/temp_dir.hpp"

namespace vtsd {

namespace {
bool g_sqlite_loaded = false;

// The English (alias 0) or Russian (alias 1) name of a table's row.
template <typename Row, int N>
long NameAt(const Row (&rows)[N], long number, long alias, std::string& name) {
  name.clear();
  if (number < 0 || number >= N || (alias != 0 && alias != 1)) return kS_FALSE;
  name = alias == 0 ? rows[number].en : rows[number].ru;
  return kS_OK;
}
}  // namespace

bool SqliteLibraryLoaded() { return g_sqlite_loaded; }

long Component::Init(HostConnection* connection) {
  pConnect_ = connection;
  HostRef* fields[] = {&iError_, &iEvent_, &iStatus_, &iExtWindows_};
  const HostInterface which[] = {HostInterface::ErrorLog, HostInterface::AsyncEvent,
                                 HostInterface::StatusLine, HostInterface::ExtWndsSupport};
  for (int i = 0; i < 4; ++i) {
    fields[i]->reset();
    if (connection) *fields[i] = connection->Query(which[i]);
  }
  SetTempDir(platform::UserTempDirectory());
  g_sqlite_loaded = true;

  ResetLinkOnInit();
  SetMessageLanguage(Language::Russian);
  ResetConnectionSettings();
  ResetCatalogueOnInit();
  SetReportedErrorText(" ");
  return kS_OK;
}

long Component::Done() {
  pConnect_ = nullptr;
  iError_.reset();
  iEvent_.reset();
  iStatus_.reset();
  iExtWindows_.reset();
  ReleaseListenerOnDone();
  return kS_OK;
}

bool Component::HasHostInterface(HostInterface which) const {
  switch (which) {
    case HostInterface::ErrorLog: return iError_ != nullptr;
    case HostInterface::AsyncEvent: return iEvent_ != nullptr;
    case HostInterface::StatusLine: return iStatus_ != nullptr;
    case HostInterface::ExtWndsSupport: return iExtWindows_ != nullptr;
  }
  return false;
}

long Component::GetInfo(ParamArray& info) {
  info.Write(0, Value::Text("2000"));
  return kS_OK;
}

long Component::SetLocale(const std::string& locale_name) {
  SetMessageLanguage(locale_name.find("ru") != std::string::npos ? Language::Russian
                                                                 : Language::English);
  return kS_OK;
}

long Component::RegisterExtensionAs(std::string& name) {
  name = kExtensionName;
  return kS_OK;
}

long Component::GetNProps(long& count) {
  count = kPropertyCount;
  return kS_OK;
}

long Component::FindProp(const std::string& name, long& number) {
  number = FindPropertyByName(name);
  return number < 0 ? kS_FALSE : kS_OK;
}

long Component::GetPropName(long number, long alias, std::string& name) {
  return NameAt(kPropertyNames, number, alias, name);
}

long Component::GetPropVal(long number, Value& value) {
  value = Value();
  if (number < 0 || number >= kPropertyCount) return kS_FALSE;
  ReportFailures([&] {
    const ConnectionSettingsRecord& s = ConnectionSettings();
    switch (number) {
      case kPropIpAdress:
        prop_IpAdress_ = s.IpAddress;
        value = Value::Text(prop_IpAdress_);
        break;
      case kPropPortNumber:
        prop_PortNumber_ = std::to_string(s.PortNumber);
        value = Value::Text(prop_PortNumber_);
        break;
      case kPropTimeOut:
        prop_TimeOut_ = std::to_string(s.TimeOut);
        value = Value::Text(prop_TimeOut_);
        break;
      case kPropChooseDownloadSource:
        prop_ChooseDownloadSource_ = s.ChooseDownloadSource;
        value = Value::Bool(prop_ChooseDownloadSource_);
        break;
    }
  });
  return kS_OK;
}

long Component::SetPropVal(long number, const Value& value) {
  // The value is converted to text before the number is looked at, so a value
  // without text form fails (and is reported) even for an unknown number.
  long result = kS_OK;
  ReportFailures([&] {
    std::string text;
    try {
      text = value.ToText();
    } catch (const std::exception&) {
      Raise(settings_text::kInvalidType);
    }
    if (number < 0 || number >= kPropertyCount) {
      result = kS_FALSE;
      return;
    }
    ConnectionSettingsRecord& s = ConnectionSettings();
    switch (number) {
      case kPropIpAdress:
        prop_IpAdress_ = text;
        ValidateIpAddress(text);
        s.IpAddress = text;
        break;
      case kPropPortNumber:
        prop_PortNumber_ = text;
        s.PortNumber = ValidatePort(text);
        break;
      case kPropTimeOut:
        prop_TimeOut_ = text;
        s.TimeOut = ValidateTimeOut(text);
        break;
      case kPropChooseDownloadSource: {
        bool flag = false;
        try {
          ValidateBoolean(value);
          flag = value.ToBool();
        } catch (const std::exception&) {
          Raise(settings_text::kInvalidType);
        }
        prop_ChooseDownloadSource_ = flag;
        s.ChooseDownloadSource = flag;
        break;
      }
    }
  });
  return result;
}

long Component::IsPropReadable(long number, bool& readable) {
  if (number < 0 || number >= kPropertyCount) return kS_FALSE;
  readable = true;
  return kS_OK;
}

long Component::IsPropWritable(long number, bool& writable) {
  if (number < 0 || number >= kPropertyCount) return kS_FALSE;
  writable = true;
  return kS_OK;
}

long Component::GetNMethods(long& count) {
  count = kMethodCount;
  return kS_OK;
}

long Component::FindMethod(const std::string& name, long& number) {
  number = FindMethodByName(name);
  return number < 0 ? kS_FALSE : kS_OK;
}

long Component::GetMethodName(long number, long alias, std::string& name) {
  return NameAt(kMethods, number, alias, name);
}

long Component::GetNParams(long number, long& count) {
  count = 0;
  if (number < 0 || number >= kMethodCount) return kS_FALSE;
  count = kMethods[number].params;
  return kS_OK;
}

long Component::GetParamDefValue(long, long, Value& value) {
  value = Value();
  return kS_OK;
}

long Component::HasRetVal(long, bool& has) {
  has = true;
  return kS_OK;
}

long Component::CallAsProc(long, ParamArray&) { return kS_FALSE; }

long Component::CallAsFunc(long method, Value& ret, ParamArray& params) {
  return CallDriverMethod(method, ret, params);
}

}  // namespace vtsd
