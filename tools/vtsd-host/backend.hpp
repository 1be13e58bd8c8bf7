// What the host harness drives: one component object, called the way the 1C
// host calls it, one call at a time. The protocol code (JSON lines in, JSON
// lines out) is shared; a backend only carries each call to a component:
//   - the portable backend calls a vtsd::Component linked into the harness;
//   - the COM backend (Windows) creates the real DLL's object by its ProgID
//     and calls it through IInitDone, ILocale and ILanguageExtender, mapping
//     Value to and from VARIANT and the parameter arrays to SAFEARRAYs.
// Texts are UTF-8; results are the HRESULT-style answers of the component
// (0 = S_OK, 1 = S_FALSE).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/value.hpp"
#include "tools/vtsd-host/dialog_script.hpp"

namespace vtsd::host {

// A parameter array: one element per index, from 0. Before a call the harness
// sizes it to what GetNParams reports for the method (or more, when the script
// gives more); after the call it holds every element as the component left it.
using Values = std::vector<Value>;

// A failure of the backend itself, not of the component: the object could
// not be created, a call could not be carried to it. The harness reports it
// for the line in hand and goes on.
class BackendError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // IInitDone. Init passes the harness's host connection object, which offers
  // the four host interfaces the component asks for.
  virtual long Init() = 0;
  virtual long Done() = 0;
  // `info` is the host's array; the component writes element 0.
  virtual long GetInfo(Values& info) = 0;

  // ILocale
  virtual long SetLocale(const std::string& locale_name) = 0;

  // ILanguageExtender
  virtual long RegisterExtensionAs(std::string& name) = 0;
  virtual long GetNProps(long& count) = 0;
  virtual long FindProp(const std::string& name, long& number) = 0;
  virtual long GetPropName(long number, long alias, std::string& name) = 0;
  virtual long GetPropVal(long number, Value& value) = 0;
  virtual long SetPropVal(long number, const Value& value) = 0;
  virtual long IsPropReadable(long number, bool& readable) = 0;
  virtual long IsPropWritable(long number, bool& writable) = 0;
  virtual long GetNMethods(long& count) = 0;
  virtual long FindMethod(const std::string& name, long& number) = 0;
  virtual long GetMethodName(long number, long alias, std::string& name) = 0;
  virtual long GetNParams(long number, long& count) = 0;
  virtual long GetParamDefValue(long method, long param, Value& value) = 0;
  virtual long HasRetVal(long method, bool& has) = 0;
  virtual long CallAsProc(long method, Values& params) = 0;
  virtual long CallAsFunc(long method, Value& ret, Values& params) = 0;

  // What the backend found wrong with the component beyond the answers of
  // its calls (the Native API backend: memory not handed back, or freed
  // twice); empty when nothing. Asked once the run is over.
  virtual std::string Problems() const { return std::string(); }
  // A line about the run for standard error; empty when there is nothing to say.
  virtual std::string Summary() const { return std::string(); }
};

// The dialog hook: every backend is made with the harness's DialogScript.
// Each dialog the component shows while a backend carries a call is answered
// from the script's queue (DialogScript::Begin) and so recorded for the
// output of that call.

// The component linked into the harness; its dialogs go through a
// platform::DialogProvider fed by `dialogs` (installed for the backend's
// lifetime).
std::unique_ptr<Backend> MakePortableBackend(DialogScript& dialogs);

// A Native API library loaded as the 1C platform loads it: the object of its
// first class name, given a memory manager that records every allocation
// and a connection object the component keeps. On Windows the window
// automation answers the component's windows from `dialogs`; on Linux the
// component's windows are its own and `dialogs` answers none of them.
// Throws BackendError when the library cannot be loaded or gives no object.
std::unique_ptr<Backend> MakeNativeBackend(DialogScript& dialogs, const std::string& library);

#ifdef _WIN32
// The registered DLL created by its ProgID through COM; the connection
// object given to Init offers the four host interfaces or refuses them. The
// component's windows are answered from `dialogs` by a window automation
// thread. Throws BackendError when the object cannot be created.
std::unique_ptr<Backend> MakeComBackend(DialogScript& dialogs, bool offer_host_interfaces);
#endif

}  // namespace vtsd::host
