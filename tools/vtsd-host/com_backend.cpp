// The Windows backend: what the 1C host does. It creates the registered
// component by its ProgID, hands IInitDone::Init a connection object of its
// own, and makes every call through IInitDone, ILocale and ILanguageExtender
// with real VARIANTs, BSTRs and SAFEARRAYs. The windows the component opens
// are answered by the window automation thread.
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "hosts/com/AddInLib.hpp"
#include "hosts/com/variant.hpp"
#include "tools/vtsd-host/backend.hpp"
#include "tools/vtsd-host/window_automation.hpp"

namespace vtsd::host {

namespace {

using namespace vtsd::com;

std::string HresultText(const char* what, HRESULT hr) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%s failed with HRESULT 0x%08lX", what,
                static_cast<unsigned long>(hr));
  return buffer;
}

// Reference-counted pointer to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** Out() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// A host interface handed out by the connection object. The component only
// holds it; the count shows that every reference it took was given back.
class HostInterfaceObject : public IUnknown {
 public:
  explicit HostInterfaceObject(const GUID& iid) : iid_(iid) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, iid_)) return E_NOINTERFACE;
    AddRef();
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  long references() const { return references_; }

 private:
  GUID iid_;
  long references_ = 0;
};

// The host's connection object: an IDispatch that offers the four host
// interfaces, or refuses them when the harness is told to.
class HostConnectionObject : public IDispatch {
 public:
  explicit HostConnectionObject(bool offer) : offer_(offer) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      AddRef();
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    if (offer_) {
      for (HostInterfaceObject* h : {&error_log_, &async_event_, &status_line_, &ext_windows_}) {
        if (h->QueryInterface(riid, object) == S_OK) return S_OK;
      }
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

  // References the component still holds (to the connection object and to
  // the host interfaces it was given).
  long HeldReferences() const {
    return references_ + error_log_.references() + async_event_.references() +
           status_line_.references() + ext_windows_.references();
  }

 private:
  bool offer_;
  long references_ = 0;
  HostInterfaceObject error_log_{IID_HostErrorLog};
  HostInterfaceObject async_event_{IID_HostAsyncEvent};
  HostInterfaceObject status_line_{IID_HostStatusLine};
  HostInterfaceObject ext_windows_{IID_HostExtWndsSupport};
};

// The harness's value with no text form: an IDispatch of its own.
HostConnectionObject g_object_value(false);

// A value as the host passes it: a value with no text form travels as a
// dispatch interface, everything else as StoreValue maps it.
void StoreHostValue(const Value& value, VARIANT* out) {
  if (value.kind() != Value::Kind::Object) {
    StoreValue(value, out);
    return;
  }
  ::VariantClear(out);
  g_object_value.AddRef();
  V_VT(out) = VT_DISPATCH;
  V_DISPATCH(out) = &g_object_value;
}

// A one-dimensional SAFEARRAY of VARIANTs from index 0, owned.
class VariantArray {
 public:
  explicit VariantArray(const Values& values) {
    array_ = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    if (!array_) throw BackendError("SafeArrayCreateVector failed");
    for (size_t i = 0; i < values.size(); ++i) {
      VARIANT v;
      ::VariantInit(&v);
      StoreHostValue(values[i], &v);
      LONG index = static_cast<LONG>(i);
      const HRESULT hr = ::SafeArrayPutElement(array_, &index, &v);
      ::VariantClear(&v);
      if (FAILED(hr)) throw BackendError(HresultText("SafeArrayPutElement", hr));
    }
  }
  ~VariantArray() {
    if (array_) ::SafeArrayDestroy(array_);
  }
  VariantArray(const VariantArray&) = delete;
  VariantArray& operator=(const VariantArray&) = delete;

  SAFEARRAY** Address() { return &array_; }

  // Every element as the component left it.
  void ReadBack(Values& values) const {
    SafeArrayParams params(array_);
    for (size_t i = 0; i < values.size(); ++i) values[i] = params.Read(static_cast<int>(i));
  }

 private:
  SAFEARRAY* array_ = nullptr;
};

// An owned VARIANT.
struct OwnedVariant {
  VARIANT v;
  OwnedVariant() { ::VariantInit(&v); }
  ~OwnedVariant() { ::VariantClear(&v); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
};

// An owned BSTR (out texts are allocated by the component, freed here).
struct OwnedBstr {
  BSTR b = nullptr;
  explicit OwnedBstr(const std::string& text = std::string()) {
    if (!text.empty()) b = AllocBstr(text);
  }
  ~OwnedBstr() { ::SysFreeString(b); }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
};

long Answer(const char* what, HRESULT hr) {
  if (hr == S_OK) return 0;
  if (hr == S_FALSE) return 1;
  throw BackendError(HresultText(what, hr));
}

class ComBackend : public Backend {
 public:
  ComBackend(DialogScript& dialogs, bool offer_host_interfaces)
      : connection_(offer_host_interfaces) {
    const HRESULT init = ::CoInitialize(nullptr);
    if (FAILED(init)) throw BackendError(HresultText("CoInitialize", init));
    com_initialized_ = true;
    try {
      CLSID clsid;
      HRESULT hr = ::CLSIDFromProgID(kProgId, &clsid);
      if (FAILED(hr)) throw BackendError(HresultText("CLSIDFromProgID(AddIn.VemlarTSD)", hr));
      hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IInitDone,
                              reinterpret_cast<void**>(init_done_.Out()));
      if (FAILED(hr)) throw BackendError(HresultText("CoCreateInstance", hr));
      hr = init_done_->QueryInterface(IID_ILanguageExtender,
                                      reinterpret_cast<void**>(extender_.Out()));
      if (FAILED(hr)) throw BackendError(HresultText("QueryInterface(ILanguageExtender)", hr));
      hr = init_done_->QueryInterface(IID_ILocale, reinterpret_cast<void**>(locale_.Out()));
      if (FAILED(hr)) throw BackendError(HresultText("QueryInterface(ILocale)", hr));
      automation_ = std::make_unique<WindowAutomation>(dialogs);
    } catch (...) {
      Release();
      throw;
    }
  }

  ~ComBackend() override {
    Release();
  }

  long Init() override { return Answer("Init", init_done_->Init(&connection_)); }
  // Done must give back every reference the component took at Init.
  long Done() override {
    const long result = Answer("Done", init_done_->Done());
    if (connection_.HeldReferences() != 0)
      throw BackendError("the component still holds " +
                         std::to_string(connection_.HeldReferences()) +
                         " references to the host's objects after Done");
    return result;
  }

  long GetInfo(Values& info) override {
    VariantArray array(info);
    const long result = Answer("GetInfo", init_done_->GetInfo(array.Address()));
    array.ReadBack(info);
    return result;
  }

  long SetLocale(const std::string& locale_name) override {
    OwnedBstr name(locale_name);
    return Answer("SetLocale", locale_->SetLocale(name.b));
  }

  long RegisterExtensionAs(std::string& name) override {
    OwnedBstr out;
    const long result = Answer("RegisterExtensionAs", extender_->RegisterExtensionAs(&out.b));
    name = TextFromBstr(out.b);
    return result;
  }

  long GetNProps(long& count) override { return Answer("GetNProps", extender_->GetNProps(&count)); }

  long FindProp(const std::string& name, long& number) override {
    OwnedBstr text(name);
    return Answer("FindProp", extender_->FindProp(text.b, &number));
  }

  long GetPropName(long number, long alias, std::string& name) override {
    OwnedBstr out;
    const long result = Answer("GetPropName", extender_->GetPropName(number, alias, &out.b));
    name = TextFromBstr(out.b);
    return result;
  }

  long GetPropVal(long number, Value& value) override {
    OwnedVariant out;
    const long result = Answer("GetPropVal", extender_->GetPropVal(number, &out.v));
    value = ValueFromVariant(out.v);
    return result;
  }

  long SetPropVal(long number, const Value& value) override {
    OwnedVariant in;
    StoreHostValue(value, &in.v);
    return Answer("SetPropVal", extender_->SetPropVal(number, &in.v));
  }

  long IsPropReadable(long number, bool& readable) override {
    BOOL flag = readable ? TRUE : FALSE;
    const long result = Answer("IsPropReadable", extender_->IsPropReadable(number, &flag));
    readable = flag != FALSE;
    return result;
  }

  long IsPropWritable(long number, bool& writable) override {
    BOOL flag = writable ? TRUE : FALSE;
    const long result = Answer("IsPropWritable", extender_->IsPropWritable(number, &flag));
    writable = flag != FALSE;
    return result;
  }

  long GetNMethods(long& count) override {
    return Answer("GetNMethods", extender_->GetNMethods(&count));
  }

  long FindMethod(const std::string& name, long& number) override {
    OwnedBstr text(name);
    return Answer("FindMethod", extender_->FindMethod(text.b, &number));
  }

  long GetMethodName(long number, long alias, std::string& name) override {
    OwnedBstr out;
    const long result = Answer("GetMethodName", extender_->GetMethodName(number, alias, &out.b));
    name = TextFromBstr(out.b);
    return result;
  }

  long GetNParams(long number, long& count) override {
    return Answer("GetNParams", extender_->GetNParams(number, &count));
  }

  long GetParamDefValue(long method, long param, Value& value) override {
    OwnedVariant out;
    const long result =
        Answer("GetParamDefValue", extender_->GetParamDefValue(method, param, &out.v));
    value = ValueFromVariant(out.v);
    return result;
  }

  long HasRetVal(long method, bool& has) override {
    BOOL flag = FALSE;
    const long result = Answer("HasRetVal", extender_->HasRetVal(method, &flag));
    has = flag != FALSE;
    return result;
  }

  long CallAsProc(long method, Values& params) override {
    VariantArray array(params);
    const long result = Answer("CallAsProc", extender_->CallAsProc(method, array.Address()));
    array.ReadBack(params);
    return result;
  }

  long CallAsFunc(long method, Value& ret, Values& params) override {
    VariantArray array(params);
    OwnedVariant out;
    const long result =
        Answer("CallAsFunc", extender_->CallAsFunc(method, &out.v, array.Address()));
    ret = ValueFromVariant(out.v);
    array.ReadBack(params);
    return result;
  }

 private:
  void Release() {
    automation_.reset();
    locale_.Reset();
    extender_.Reset();
    init_done_.Reset();
    if (com_initialized_) ::CoUninitialize();
    com_initialized_ = false;
  }

  HostConnectionObject connection_;
  bool com_initialized_ = false;
  ComPtr<IInitDone> init_done_;
  ComPtr<ILanguageExtender> extender_;
  ComPtr<ILocale> locale_;
  std::unique_ptr<WindowAutomation> automation_;
};

}  // namespace

std::unique_ptr<Backend> MakeComBackend(DialogScript& dialogs, bool offer_host_interfaces) {
  return std::make_unique<ComBackend>(dialogs, offer_host_interfaces);
}

}  // namespace vtsd::host
