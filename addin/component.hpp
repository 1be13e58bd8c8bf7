// The component as the host sees it: the behaviour of IInitDone,
// ILanguageExtender and ILocale, independent of COM. The Windows COM class
// wraps one Component per object and adds no behaviour; the host harness
// drives it directly on Linux.
#pragma once

#include <memory>
#include <string>

#include "base/params.hpp"
#include "base/value.hpp"

namespace vtsd {

// The host interfaces Init asks the connection object for. The component
// keeps the references and never calls them.
enum class HostInterface { ErrorLog, AsyncEvent, StatusLine, ExtWndsSupport };

// A reference to one host interface; releasing it releases the host's object.
using HostRef = std::shared_ptr<void>;

// The host's connection object passed to Init.
class HostConnection {
 public:
  virtual ~HostConnection() = default;
  // The interface, or an empty reference when the host refuses it.
  virtual HostRef Query(HostInterface which) = 0;
};

class Component {
 public:
  Component() = default;
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  // IInitDone
  long Init(HostConnection* connection);
  long Done();
  long GetInfo(ParamArray& info);

  // ILocale
  long SetLocale(const std::string& locale_name);

  // ILanguageExtender
  long RegisterExtensionAs(std::string& name);
  long GetNProps(long& count);
  long FindProp(const std::string& name, long& number);
  long GetPropName(long number, long alias, std::string& name);
  long GetPropVal(long number, Value& value);
  long SetPropVal(long number, const Value& value);
  long IsPropReadable(long number, bool& readable);
  long IsPropWritable(long number, bool& writable);
  long GetNMethods(long& count);
  long FindMethod(const std::string& name, long& number);
  long GetMethodName(long number, long alias, std::string& name);
  long GetNParams(long number, long& count);
  long GetParamDefValue(long method, long param, Value& value);
  long HasRetVal(long method, bool& has);
  long CallAsProc(long method, ParamArray& params);
  long CallAsFunc(long method, Value& ret, ParamArray& params);

  // Per-object copies of the properties, refreshed by property reads and writes.
  const std::string& prop_IpAdress() const { return prop_IpAdress_; }
  const std::string& prop_PortNumber() const { return prop_PortNumber_; }
  const std::string& prop_TimeOut() const { return prop_TimeOut_; }
  bool prop_ChooseDownloadSource() const { return prop_ChooseDownloadSource_; }
  bool HasHostInterface(HostInterface which) const;

 private:
  HostConnection* pConnect_ = nullptr;
  HostRef iError_, iEvent_, iStatus_, iExtWindows_;
  std::string prop_IpAdress_, prop_PortNumber_, prop_TimeOut_;
  bool prop_ChooseDownloadSource_ = false;
};

// True once SQLite has been made available (at the first Init; the library is
// linked into the component, so there is nothing to extract or load).
bool SqliteLibraryLoaded();

}  // namespace vtsd
