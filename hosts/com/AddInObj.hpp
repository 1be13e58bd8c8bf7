// AddInObject: the COM class the host creates by the ProgID
// "AddIn.VemlarTSD". A thin adapter over one vtsd::Component: it converts
// BSTRs, VARIANTs and SAFEARRAYs, keeps the host's connection object, and
// adds no behaviour of its own. No C++ exception leaves any of its methods.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "hosts/com/AddInLib.hpp"
#include "addin/component.hpp"

namespace vtsd::com {

// Live objects and server locks; the module can unload when both are zero.
void ModuleAddRef();
void ModuleRelease();
bool ModuleInUse();

class AddInObject final : public ILocale,
                          public ILanguageExtender,
                          public IInitDone,
                          public IDispatch {
 public:
  AddInObject();
  ~AddInObject();
  AddInObject(const AddInObject&) = delete;
  AddInObject& operator=(const AddInObject&) = delete;

  // IUnknown (one identity: the ILocale base answers for IUnknown)
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ILocale
  HRESULT STDMETHODCALLTYPE SetLocale(BSTR locale_name) override;

  // ILanguageExtender
  HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* extension_name) override;
  HRESULT STDMETHODCALLTYPE GetNProps(long* count) override;
  HRESULT STDMETHODCALLTYPE FindProp(BSTR name, long* number) override;
  HRESULT STDMETHODCALLTYPE GetPropName(long number, long alias, BSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetPropVal(long number, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE SetPropVal(long number, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE IsPropReadable(long number, BOOL* readable) override;
  HRESULT STDMETHODCALLTYPE IsPropWritable(long number, BOOL* writable) override;
  HRESULT STDMETHODCALLTYPE GetNMethods(long* count) override;
  HRESULT STDMETHODCALLTYPE FindMethod(BSTR name, long* number) override;
  HRESULT STDMETHODCALLTYPE GetMethodName(long number, long alias, BSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetNParams(long number, long* count) override;
  HRESULT STDMETHODCALLTYPE GetParamDefValue(long method, long param, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE HasRetVal(long method, BOOL* has) override;
  HRESULT STDMETHODCALLTYPE CallAsProc(long method, SAFEARRAY** params) override;
  HRESULT STDMETHODCALLTYPE CallAsFunc(long method, VARIANT* ret, SAFEARRAY** params) override;

  // IInitDone
  HRESULT STDMETHODCALLTYPE Init(IDispatch* connection) override;
  HRESULT STDMETHODCALLTYPE Done() override;
  HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** info) override;

  // IDispatch: every method answers E_NOTIMPL; the host drives the component through ILanguageExtender
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                   UINT* arg_error) override;

 private:
  // The host's connection object, as the portable component sees it: it
  // answers the component's requests for host interfaces by QueryInterface.
  class Connection : public HostConnection {
   public:
    ~Connection() override { Release(); }
    HostRef Query(HostInterface which) override;
    void Hold(IDispatch* connection);
    void Release();

   private:
    IDispatch* dispatch_ = nullptr;
  };

  LONG references_ = 1;
  // pConnect: held from Init until Done (or the object's end). Declared
  // before the component so that the host interfaces the component holds
  // are released before the connection object that gave them.
  Connection pConnect_;
  Component component_;
};

}  // namespace vtsd::com
