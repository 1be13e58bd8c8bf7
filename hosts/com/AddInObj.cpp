#include "hosts/com/AddInObj.hpp"

#include <new>
#include <string>

#include "hosts/com/variant.hpp"

namespace vtsd::com {

namespace {

LONG g_module_references = 0;

// Runs a method body so that no C++ exception reaches the host.
template <typename Body>
HRESULT Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT Result(long component_result) {
  return component_result == 0 ? S_OK : S_FALSE;
}

const GUID& InterfaceId(HostInterface which) {
  switch (which) {
    case HostInterface::ErrorLog: return IID_HostErrorLog;
    case HostInterface::AsyncEvent: return IID_HostAsyncEvent;
    case HostInterface::StatusLine: return IID_HostStatusLine;
    case HostInterface::ExtWndsSupport: break;
  }
  return IID_HostExtWndsSupport;
}

}  // namespace

void ModuleAddRef() { ::InterlockedIncrement(&g_module_references); }
void ModuleRelease() { ::InterlockedDecrement(&g_module_references); }
bool ModuleInUse() { return ::InterlockedCompareExchange(&g_module_references, 0, 0) != 0; }

// --- the host connection -------------------------------------------------

HostRef AddInObject::Connection::Query(HostInterface which) {
  if (!dispatch_) return HostRef();
  IUnknown* answer = nullptr;
  if (FAILED(dispatch_->QueryInterface(InterfaceId(which), reinterpret_cast<void**>(&answer))) ||
      !answer)
    return HostRef();
  // The reference is released when the component lets go of it (at Done,
  // at the next Init, or when the object ends).
  return HostRef(answer, [](void* p) { static_cast<IUnknown*>(p)->Release(); });
}

void AddInObject::Connection::Hold(IDispatch* connection) {
  if (connection) connection->AddRef();
  Release();
  dispatch_ = connection;
}

void AddInObject::Connection::Release() {
  if (dispatch_) dispatch_->Release();
  dispatch_ = nullptr;
}

// --- IUnknown ------------------------------------------------------------

AddInObject::AddInObject() { ModuleAddRef(); }

AddInObject::~AddInObject() { ModuleRelease(); }

HRESULT AddInObject::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ILocale))
    *object = static_cast<ILocale*>(this);
  else if (IsEqualIID(riid, IID_ILanguageExtender))
    *object = static_cast<ILanguageExtender*>(this);
  else if (IsEqualIID(riid, IID_IInitDone))
    *object = static_cast<IInitDone*>(this);
  else if (IsEqualIID(riid, IID_IDispatch))
    *object = static_cast<IDispatch*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG AddInObject::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

ULONG AddInObject::Release() {
  const LONG left = ::InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// --- IInitDone -----------------------------------------------------------

HRESULT AddInObject::Init(IDispatch* connection) {
  return Guarded([&] {
    pConnect_.Hold(connection);
    return Result(component_.Init(&pConnect_));
  });
}

HRESULT AddInObject::Done() {
  return Guarded([&] {
    const long result = component_.Done();
    pConnect_.Release();
    return Result(result);
  });
}

HRESULT AddInObject::GetInfo(SAFEARRAY** info) {
  return Guarded([&] {
    SafeArrayParams array(info ? *info : nullptr);
    return Result(component_.GetInfo(array));
  });
}

// --- ILocale -------------------------------------------------------------

HRESULT AddInObject::SetLocale(BSTR locale_name) {
  return Guarded([&] { return Result(component_.SetLocale(TextFromBstr(locale_name))); });
}

// --- ILanguageExtender ---------------------------------------------------
// Out texts are fresh BSTRs that the caller frees; an incoming out pointer is
// not read (it is an [out] value).

HRESULT AddInObject::RegisterExtensionAs(BSTR* extension_name) {
  return Guarded([&] {
    if (!extension_name) return E_POINTER;
    *extension_name = nullptr;
    std::string name;
    const long result = component_.RegisterExtensionAs(name);
    *extension_name = AllocBstr(name);
    return Result(result);
  });
}

HRESULT AddInObject::GetNProps(long* count) {
  return Guarded([&] {
    if (!count) return E_POINTER;
    return Result(component_.GetNProps(*count));
  });
}

HRESULT AddInObject::FindProp(BSTR name, long* number) {
  return Guarded([&] {
    if (!number) return E_POINTER;
    return Result(component_.FindProp(TextFromBstr(name), *number));
  });
}

HRESULT AddInObject::GetPropName(long number, long alias, BSTR* name) {
  return Guarded([&] {
    if (!name) return E_POINTER;
    *name = nullptr;
    std::string text;
    const long result = component_.GetPropName(number, alias, text);
    if (result == 0) *name = AllocBstr(text);
    return Result(result);
  });
}

HRESULT AddInObject::GetPropVal(long number, VARIANT* value) {
  return Guarded([&] {
    if (!value) return E_POINTER;
    Value v;
    const long result = component_.GetPropVal(number, v);
    StoreValue(v, value);
    return Result(result);
  });
}

HRESULT AddInObject::SetPropVal(long number, VARIANT* value) {
  return Guarded([&] {
    const Value v = value ? ValueFromVariant(*value) : Value();
    return Result(component_.SetPropVal(number, v));
  });
}

HRESULT AddInObject::IsPropReadable(long number, BOOL* readable) {
  return Guarded([&] {
    if (!readable) return E_POINTER;
    bool flag = false;
    const long result = component_.IsPropReadable(number, flag);
    if (result == 0) *readable = flag ? TRUE : FALSE;
    return Result(result);
  });
}

HRESULT AddInObject::IsPropWritable(long number, BOOL* writable) {
  return Guarded([&] {
    if (!writable) return E_POINTER;
    bool flag = false;
    const long result = component_.IsPropWritable(number, flag);
    if (result == 0) *writable = flag ? TRUE : FALSE;
    return Result(result);
  });
}

HRESULT AddInObject::GetNMethods(long* count) {
  return Guarded([&] {
    if (!count) return E_POINTER;
    return Result(component_.GetNMethods(*count));
  });
}

HRESULT AddInObject::FindMethod(BSTR name, long* number) {
  return Guarded([&] {
    if (!number) return E_POINTER;
    return Result(component_.FindMethod(TextFromBstr(name), *number));
  });
}

HRESULT AddInObject::GetMethodName(long number, long alias, BSTR* name) {
  return Guarded([&] {
    if (!name) return E_POINTER;
    *name = nullptr;
    std::string text;
    const long result = component_.GetMethodName(number, alias, text);
    if (result == 0) *name = AllocBstr(text);
    return Result(result);
  });
}

HRESULT AddInObject::GetNParams(long number, long* count) {
  return Guarded([&] {
    if (!count) return E_POINTER;
    return Result(component_.GetNParams(number, *count));
  });
}

HRESULT AddInObject::GetParamDefValue(long method, long param, VARIANT* value) {
  return Guarded([&] {
    if (!value) return E_POINTER;
    Value v;
    const long result = component_.GetParamDefValue(method, param, v);
    StoreValue(v, value);
    return Result(result);
  });
}

HRESULT AddInObject::HasRetVal(long method, BOOL* has) {
  return Guarded([&] {
    if (!has) return E_POINTER;
    bool flag = false;
    const long result = component_.HasRetVal(method, flag);
    *has = flag ? TRUE : FALSE;
    return Result(result);
  });
}

HRESULT AddInObject::CallAsProc(long method, SAFEARRAY** params) {
  return Guarded([&] {
    SafeArrayParams array(params ? *params : nullptr);
    return Result(component_.CallAsProc(method, array));
  });
}

HRESULT AddInObject::CallAsFunc(long method, VARIANT* ret, SAFEARRAY** params) {
  return Guarded([&] {
    SafeArrayParams array(params ? *params : nullptr);
    Value r;
    const long result = component_.CallAsFunc(method, r, array);
    if (ret) StoreValue(r, ret);
    return Result(result);
  });
}

// --- IDispatch -----------------------------------------------------------

HRESULT AddInObject::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT AddInObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT AddInObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT AddInObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

}  // namespace vtsd::com
