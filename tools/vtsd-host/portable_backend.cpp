// The Linux backend: the portable component linked into the harness and
// called directly, with the harness's dialog provider installed.
#include <memory>

#include "addin/component.hpp"
#include "tools/vtsd-host/backend.hpp"
#include "tools/vtsd-host/scripted_dialogs.hpp"

namespace vtsd::host {

namespace {

// The host's connection object: it offers every host interface the
// component asks for; the component keeps them and never calls them.
class HarnessConnection : public HostConnection {
 public:
  HostRef Query(HostInterface) override { return std::make_shared<int>(0); }
};

// The host's parameter array over a vector the harness owns. Elements past
// the end cannot be read (empty) or written (ignored), as with a SAFEARRAY.
class VectorParams : public ParamArray {
 public:
  explicit VectorParams(Values& values) : values_(values) {}
  Value Read(int index) const override {
    if (index < 0 || static_cast<size_t>(index) >= values_.size()) return Value();
    return values_[index];
  }
  void Write(int index, const Value& value) override {
    if (index < 0 || static_cast<size_t>(index) >= values_.size()) return;
    values_[index] = value;
  }

 private:
  Values& values_;
};

class PortableBackend : public Backend {
 public:
  explicit PortableBackend(DialogScript& dialogs) : provider_(dialogs) {
    platform::InstallDialogProvider(&provider_);
  }
  ~PortableBackend() override { platform::InstallDialogProvider(nullptr); }

  long Init() override { return component_.Init(&connection_); }
  long Done() override { return component_.Done(); }
  long GetInfo(Values& info) override {
    VectorParams array(info);
    return component_.GetInfo(array);
  }
  long SetLocale(const std::string& locale_name) override {
    return component_.SetLocale(locale_name);
  }
  long RegisterExtensionAs(std::string& name) override {
    return component_.RegisterExtensionAs(name);
  }
  long GetNProps(long& count) override { return component_.GetNProps(count); }
  long FindProp(const std::string& name, long& number) override {
    return component_.FindProp(name, number);
  }
  long GetPropName(long number, long alias, std::string& name) override {
    return component_.GetPropName(number, alias, name);
  }
  long GetPropVal(long number, Value& value) override {
    return component_.GetPropVal(number, value);
  }
  long SetPropVal(long number, const Value& value) override {
    return component_.SetPropVal(number, value);
  }
  long IsPropReadable(long number, bool& readable) override {
    return component_.IsPropReadable(number, readable);
  }
  long IsPropWritable(long number, bool& writable) override {
    return component_.IsPropWritable(number, writable);
  }
  long GetNMethods(long& count) override { return component_.GetNMethods(count); }
  long FindMethod(const std::string& name, long& number) override {
    return component_.FindMethod(name, number);
  }
  long GetMethodName(long number, long alias, std::string& name) override {
    return component_.GetMethodName(number, alias, name);
  }
  long GetNParams(long number, long& count) override {
    return component_.GetNParams(number, count);
  }
  long GetParamDefValue(long method, long param, Value& value) override {
    return component_.GetParamDefValue(method, param, value);
  }
  long HasRetVal(long method, bool& has) override { return component_.HasRetVal(method, has); }
  long CallAsProc(long method, Values& params) override {
    VectorParams array(params);
    return component_.CallAsProc(method, array);
  }
  long CallAsFunc(long method, Value& ret, Values& params) override {
    VectorParams array(params);
    return component_.CallAsFunc(method, ret, array);
  }

 private:
  ScriptedDialogProvider provider_;
  HarnessConnection connection_;
  Component component_;
};

}  // namespace

std::unique_ptr<Backend> MakePortableBackend(DialogScript& dialogs) {
  return std::make_unique<PortableBackend>(dialogs);
}

}  // namespace vtsd::host
