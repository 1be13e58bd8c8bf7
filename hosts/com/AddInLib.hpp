// The interfaces of the 1C external-component technology as the host calls
// them: IInitDone, ILanguageExtender and ILocale, with their identifiers and
// slot orders. Every method is stdcall (STDMETHODCALLTYPE). The four host
// interfaces that Init asks the connection object for are known here by
// identifier only: the component keeps them and never calls them.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace vtsd::com {

// {AB634001-F13D-11D0-A459-004095E1DAEA}
inline constexpr GUID IID_IInitDone = {
    0xAB634001, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634003-F13D-11D0-A459-004095E1DAEA}
inline constexpr GUID IID_ILanguageExtender = {
    0xAB634003, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {E88A191E-8F52-4261-9FAE-FF7AA84F5D7E}
inline constexpr GUID IID_ILocale = {
    0xE88A191E, 0x8F52, 0x4261, {0x9F, 0xAE, 0xFF, 0x7A, 0xA8, 0x4F, 0x5D, 0x7E}};

// Host interfaces, asked for in this order at Init.
// IErrorLog {3127CA40-446E-11CE-8135-00AA004BB851}
inline constexpr GUID IID_HostErrorLog = {
    0x3127CA40, 0x446E, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
// IAsyncEvent {AB634004-F13D-11D0-A459-004095E1DAEA}
inline constexpr GUID IID_HostAsyncEvent = {
    0xAB634004, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// IStatusLine {AB634005-F13D-11D0-A459-004095E1DAEA}
inline constexpr GUID IID_HostStatusLine = {
    0xAB634005, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// IExtWndsSupport {EFE19EA0-09E4-11D2-A601-008048DA00DE}
inline constexpr GUID IID_HostExtWndsSupport = {
    0xEFE19EA0, 0x09E4, 0x11D2, {0xA6, 0x01, 0x00, 0x80, 0x48, 0xDA, 0x00, 0xDE}};

// The component's class: one fixed identifier, never changed.
// {EC47D14C-FAE9-4E53-9420-9D021502E767}
inline constexpr GUID CLSID_VemlarTSD = {
    0xEC47D14C, 0xFAE9, 0x4E53, {0x94, 0x20, 0x9D, 0x02, 0x15, 0x02, 0xE7, 0x67}};
inline constexpr const wchar_t* kClsidText = L"{EC47D14C-FAE9-4E53-9420-9D021502E767}";
inline constexpr const wchar_t* kProgId = L"AddIn.VemlarTSD";
inline constexpr const wchar_t* kClassDescription = L"VemlarTSD";

struct IInitDone : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Init(IDispatch* connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE Done() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** info) = 0;
};

struct ILanguageExtender : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* extension_name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNProps(long* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindProp(BSTR name, long* number) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropName(long number, long alias, BSTR* name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropVal(long number, VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropVal(long number, VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropReadable(long number, BOOL* readable) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropWritable(long number, BOOL* writable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNMethods(long* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindMethod(BSTR name, long* number) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMethodName(long number, long alias, BSTR* name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNParams(long number, long* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetParamDefValue(long method, long param, VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE HasRetVal(long method, BOOL* has) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsProc(long method, SAFEARRAY** params) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsFunc(long method, VARIANT* ret, SAFEARRAY** params) = 0;
};

struct ILocale : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetLocale(BSTR locale_name) = 0;
};

}  // namespace vtsd::com
