// The real VemlarTSD.dll through COM, as the host meets it: entry points,
// class factory, interface table, the host's connection object, VARIANT
// conversions of every type the host may pass, out values, and the version
// resource. Runs under Wine (or Windows) with the DLL registered; the
// VTSD_DLL environment variable names the DLL file for the entry-point and
// resource checks.
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "hosts/com/AddInLib.hpp"

namespace {

using namespace vtsd::com;

std::wstring DllPath() {
  const wchar_t* path = _wgetenv(L"VTSD_DLL");
  return path ? path : L"";
}

// --- small owners ---------------------------------------------------------

struct Variant {
  VARIANT v;
  Variant() { ::VariantInit(&v); }
  ~Variant() { ::VariantClear(&v); }
  Variant(const Variant& o) {
    ::VariantInit(&v);
    ::VariantCopy(&v, const_cast<VARIANT*>(&o.v));
  }
  Variant& operator=(const Variant&) = delete;
};

struct Bstr {
  BSTR b = nullptr;
  Bstr() = default;
  explicit Bstr(const std::wstring& text)
      : b(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { ::SysFreeString(b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  std::wstring str() const { return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring(); }
};

Variant Text(const std::wstring& text) {
  Variant v;
  V_VT(&v.v) = VT_BSTR;
  V_BSTR(&v.v) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

Variant I4(LONG n) {
  Variant v;
  V_VT(&v.v) = VT_I4;
  V_I4(&v.v) = n;
  return v;
}

// A host object that counts the references the component holds and records
// which interfaces it was asked for.
class HostObject : public IDispatch {
 public:
  explicit HostObject(bool offer) : offer_(offer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
    } else {
      asked_.push_back(riid);
      if (!offer_) return E_NOINTERFACE;
      *object = static_cast<IDispatch*>(this);
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  long references() const { return references_; }
  const std::vector<GUID>& asked() const { return asked_; }

 private:
  bool offer_;
  long references_ = 0;
  std::vector<GUID> asked_;
};

template <typename T>
void ReleaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// --- one component object, created by its ProgID --------------------------

class Component : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    CLSID clsid;
    ASSERT_EQ(::CLSIDFromProgID(kProgId, &clsid), S_OK);
    ASSERT_TRUE(IsEqualCLSID(clsid, CLSID_VemlarTSD));
    ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IInitDone,
                                 reinterpret_cast<void**>(&init_)),
              S_OK);
    ASSERT_EQ(init_->QueryInterface(IID_ILanguageExtender, reinterpret_cast<void**>(&ext_)), S_OK);
    ASSERT_EQ(init_->QueryInterface(IID_ILocale, reinterpret_cast<void**>(&locale_)), S_OK);
  }
  void TearDown() override {
    ReleaseAndClear(locale_);
    ReleaseAndClear(ext_);
    ReleaseAndClear(init_);
    ::CoUninitialize();
  }

  // Init with a connection object that outlives the component object (the
  // fixture releases the component first), then English messages.
  HostObject& Start(bool offer) {
    host_ = std::make_unique<HostObject>(offer);
    EXPECT_EQ(init_->Init(host_.get()), S_OK);
    Bstr en(L"en_US");
    EXPECT_EQ(locale_->SetLocale(en.b), S_OK);
    return *host_;
  }

  // CallAsFunc with these parameters; `params` receives the elements after
  // the call.
  HRESULT Call(const wchar_t* method, std::vector<Variant>& params, Variant& ret) {
    Bstr name(method);
    long number = -1;
    EXPECT_EQ(ext_->FindMethod(name.b, &number), S_OK) << "method";
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(params.size()));
    for (LONG i = 0; i < static_cast<LONG>(params.size()); ++i)
      ::SafeArrayPutElement(array, &i, &params[i].v);
    const HRESULT hr = ext_->CallAsFunc(number, &ret.v, &array);
    for (LONG i = 0; i < static_cast<LONG>(params.size()); ++i) {
      ::VariantClear(&params[i].v);
      ::SafeArrayGetElement(array, &i, &params[i].v);
    }
    ::SafeArrayDestroy(array);
    return hr;
  }

  struct Error {
    LONG code;
    std::wstring text;
  };
  Error LastError() {
    std::vector<Variant> params(1);
    Variant ret;
    EXPECT_EQ(Call(L"GetLastError", params, ret), S_OK);
    EXPECT_EQ(V_VT(&ret.v), VT_I4);
    EXPECT_EQ(V_VT(&params[0].v), VT_BSTR);
    return {V_I4(&ret.v), V_VT(&params[0].v) == VT_BSTR ? V_BSTR(&params[0].v) : L""};
  }

  std::unique_ptr<HostObject> host_;
  IInitDone* init_ = nullptr;
  ILanguageExtender* ext_ = nullptr;
  ILocale* locale_ = nullptr;
};

TEST_F(Component, InterfaceTableAndIdentity) {
  IUnknown* identity = nullptr;
  ASSERT_EQ(init_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  for (const GUID* iid : {&IID_ILocale, &IID_ILanguageExtender, &IID_IInitDone, &IID_IDispatch}) {
    IUnknown* p = nullptr;
    ASSERT_EQ(init_->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
    IUnknown* back = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back, identity) << "every interface leads back to one object";
    back->Release();
    p->Release();
  }
  identity->Release();

  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(init_->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  IDispatch* dispatch = nullptr;
  ASSERT_EQ(init_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  UINT count = 0;
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Open")};
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), E_NOTIMPL);
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), E_NOTIMPL);
  EXPECT_EQ(dispatch->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            E_NOTIMPL);
  dispatch->Release();
}

TEST_F(Component, HostInterfacesAreAskedForInOrderAndAllReleasedAtDone) {
  HostObject& host = Start(true);
  const std::vector<GUID> expected = {IID_HostErrorLog, IID_HostAsyncEvent, IID_HostStatusLine,
                                      IID_HostExtWndsSupport};
  ASSERT_EQ(host.asked().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(IsEqualIID(host.asked()[i], expected[i])) << "interface " << i;
  EXPECT_EQ(host.references(), 5) << "the connection object and four host interfaces are held";
  ASSERT_EQ(init_->Done(), S_OK);
  EXPECT_EQ(host.references(), 0);
}

TEST_F(Component, RefusedHostInterfacesAreNoFailure) {
  HostObject& host = Start(false);
  EXPECT_EQ(host.asked().size(), 4u);
  EXPECT_EQ(host.references(), 1) << "only the connection object is held";
  std::vector<Variant> params;
  Variant ret;
  ASSERT_EQ(Call(L"GetVersion", params, ret), S_OK);
  ASSERT_EQ(V_VT(&ret.v), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&ret.v)), L"1.2");
  ASSERT_EQ(init_->Done(), S_OK);
  EXPECT_EQ(host.references(), 0);
}

TEST_F(Component, ReleasingWithoutDoneGivesBackHostReferences) {
  HostObject& host = Start(true);
  ReleaseAndClear(locale_);
  ReleaseAndClear(ext_);
  ReleaseAndClear(init_);
  EXPECT_EQ(host.references(), 0);
}

TEST_F(Component, StartUpAnswersAndOutValueTypes) {
  Start(true);

  SAFEARRAY* info = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
  ASSERT_EQ(init_->GetInfo(&info), S_OK);
  Variant element;
  LONG zero = 0;
  ::SafeArrayGetElement(info, &zero, &element.v);
  ::SafeArrayDestroy(info);
  ASSERT_EQ(V_VT(&element.v), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&element.v)), L"2000");

  Bstr extension;
  ASSERT_EQ(ext_->RegisterExtensionAs(&extension.b), S_OK);
  EXPECT_EQ(extension.str(), L"VemlarTSD");

  Bstr name;
  EXPECT_EQ(ext_->GetPropName(3, 1, &name.b), S_OK);
  EXPECT_EQ(name.str(), L"ВыбиратьИсточникЗагрузки");
  Bstr none;
  EXPECT_EQ(ext_->GetPropName(4, 0, &none.b), S_FALSE);
  EXPECT_EQ(none.b, nullptr);

  BOOL flag = 7;
  EXPECT_EQ(ext_->IsPropReadable(9, &flag), S_FALSE);
  EXPECT_EQ(flag, 7) << "not written for an unknown property";
  EXPECT_EQ(ext_->IsPropWritable(0, &flag), S_OK);
  EXPECT_EQ(flag, TRUE);
  EXPECT_EQ(ext_->HasRetVal(99, &flag), S_OK);
  EXPECT_EQ(flag, TRUE);

  Variant out = I4(5);
  EXPECT_EQ(ext_->GetParamDefValue(0, 0, &out.v), S_OK);
  EXPECT_EQ(V_VT(&out.v), VT_EMPTY);

  // Method 14 does not exist: S_FALSE and the return value 0.
  Variant ret;
  SAFEARRAY* empty = ::SafeArrayCreateVector(VT_VARIANT, 0, 0);
  EXPECT_EQ(ext_->CallAsFunc(14, &ret.v, &empty), S_FALSE);
  EXPECT_EQ(V_VT(&ret.v), VT_I4);
  EXPECT_EQ(V_I4(&ret.v), 0);
  EXPECT_EQ(ext_->CallAsProc(0, &empty), S_FALSE);
  ::SafeArrayDestroy(empty);

  // GetDescription: texts as VT_BSTR, the two flags as VT_BOOL, result VT_I4.
  std::vector<Variant> params(7);
  Variant description_ret;
  ASSERT_EQ(Call(L"GetDescription", params, description_ret), S_OK);
  EXPECT_EQ(V_VT(&description_ret.v), VT_I4);
  EXPECT_EQ(V_I4(&description_ret.v), 1);
  ASSERT_EQ(V_VT(&params[0].v), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&params[0].v)), L"Vemlar ТСД");
  for (int i : {4, 5}) {
    EXPECT_EQ(V_VT(&params[i].v), VT_BOOL) << i;
    EXPECT_EQ(V_BOOL(&params[i].v), VARIANT_TRUE) << i;
  }

  // Properties: texts for 0..2, a Boolean for 3.
  Variant new_port = I4(8080);
  ASSERT_EQ(ext_->SetPropVal(1, &new_port.v), S_OK);
  Variant port;
  ASSERT_EQ(ext_->GetPropVal(1, &port.v), S_OK);
  ASSERT_EQ(V_VT(&port.v), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&port.v)), L"8080");
  Variant choose;
  ASSERT_EQ(ext_->GetPropVal(3, &choose.v), S_OK);
  EXPECT_EQ(V_VT(&choose.v), VT_BOOL);
}

// Builds a VARIANT of one type.
struct VariantCase {
  const char* name;
  Variant (*make)();
  // The text the component reads from it, or nullptr when it has no text form.
  const wchar_t* text;
};

Variant MakeEmpty() { return Variant(); }
Variant MakeNull() {
  Variant v;
  V_VT(&v.v) = VT_NULL;
  return v;
}
VariantCase kVariantCases[] = {
    {"VT_EMPTY", MakeEmpty, L""},
    {"VT_NULL", MakeNull, L""},
    {"VT_I1", [] { Variant v; V_VT(&v.v) = VT_I1; V_I1(&v.v) = -5; return v; }, L"-5"},
    {"VT_I2", [] { Variant v; V_VT(&v.v) = VT_I2; V_I2(&v.v) = -30000; return v; }, L"-30000"},
    {"VT_I4", [] { return I4(-2000000000); }, L"-2000000000"},
    {"VT_INT", [] { Variant v; V_VT(&v.v) = VT_INT; V_INT(&v.v) = 77; return v; }, L"77"},
    {"VT_I8", [] { Variant v; V_VT(&v.v) = VT_I8; V_I8(&v.v) = -9000000000LL; return v; },
     L"-9000000000"},
    {"VT_UI1", [] { Variant v; V_VT(&v.v) = VT_UI1; V_UI1(&v.v) = 250; return v; }, L"250"},
    {"VT_UI2", [] { Variant v; V_VT(&v.v) = VT_UI2; V_UI2(&v.v) = 65000; return v; }, L"65000"},
    {"VT_UI4", [] { Variant v; V_VT(&v.v) = VT_UI4; V_UI4(&v.v) = 3000000000u; return v; },
     L"3000000000"},
    {"VT_UINT", [] { Variant v; V_VT(&v.v) = VT_UINT; V_UINT(&v.v) = 12u; return v; }, L"12"},
    {"VT_UI8", [] { Variant v; V_VT(&v.v) = VT_UI8; V_UI8(&v.v) = 10000000000ULL; return v; },
     L"10000000000"},
    {"VT_R4", [] { Variant v; V_VT(&v.v) = VT_R4; V_R4(&v.v) = 2.5f; return v; }, L"2.5"},
    {"VT_R8", [] { Variant v; V_VT(&v.v) = VT_R8; V_R8(&v.v) = -0.125; return v; }, L"-0.125"},
    {"VT_CY", [] { Variant v; V_VT(&v.v) = VT_CY; V_CY(&v.v).int64 = 123450; return v; },
     L"12.345"},
    {"VT_DECIMAL",
     [] {
       Variant v;
       DECIMAL d = {};
       ::VarDecFromR8(7.75, &d);
       V_DECIMAL(&v.v) = d;
       V_VT(&v.v) = VT_DECIMAL;
       return v;
     },
     L"7.75"},
    {"VT_DATE", [] { Variant v; V_VT(&v.v) = VT_DATE; V_DATE(&v.v) = 45000.5; return v; },
     L"45000.5"},
    {"VT_BOOL", [] { Variant v; V_VT(&v.v) = VT_BOOL; V_BOOL(&v.v) = VARIANT_TRUE; return v; },
     L"True"},
    {"VT_BSTR", [] { return Text(L"Склад 1"); }, L"Склад 1"},
    {"VT_BSTR null", [] { Variant v; V_VT(&v.v) = VT_BSTR; V_BSTR(&v.v) = nullptr; return v; },
     L""},
    {"VT_BSTR lone surrogates",
     [] { return Text(std::wstring{L'a', wchar_t(0xD800), L'b', wchar_t(0xDC00)}); },
     L"a\xFFFD" L"b\xFFFD"},
    {"VT_DISPATCH",
     [] {
       static HostObject object(false);
       Variant v;
       object.AddRef();
       V_VT(&v.v) = VT_DISPATCH;
       V_DISPATCH(&v.v) = &object;
       return v;
     },
     nullptr},
    {"VT_UNKNOWN null",
     [] { Variant v; V_VT(&v.v) = VT_UNKNOWN; V_UNKNOWN(&v.v) = nullptr; return v; }, nullptr},
    {"VT_ARRAY",
     [] {
       Variant v;
       V_VT(&v.v) = VT_ARRAY | VT_VARIANT;
       V_ARRAY(&v.v) = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
       return v;
     },
     nullptr},
};

// Every type reaches the driver with the text the host would expect: the
// name given to SetParameter comes back in the "missing" message, and a
// value without text form fails as an invalid parameter name.
TEST_F(Component, EveryParameterVariantTypeConvertsToText) {
  Start(true);
  for (const VariantCase& c : kVariantCases) {
    std::vector<Variant> params = {c.make(), Text(L"1")};
    Variant ret;
    ASSERT_EQ(Call(L"SetParameter", params, ret), S_OK) << c.name;
    EXPECT_EQ(V_I4(&ret.v), 0) << c.name;
    const Error e = LastError();
    EXPECT_EQ(e.code, 8) << c.name;
    if (c.text)
      EXPECT_EQ(e.text, L"Error when setting. Parameter name " + std::wstring(c.text) + L" missing")
          << c.name;
    else
      EXPECT_EQ(e.text, L"Error during installation. Invalid data type in the parameter name.")
          << c.name;
  }
}

TEST_F(Component, ReferencesAreFollowed) {
  Start(true);
  LONG port = 4242;
  BSTR name = ::SysAllocString(L"propPortNumber");
  Variant inner;  // VT_BYREF|VT_I4 inside a VARIANT reached by reference
  V_VT(&inner.v) = VT_BYREF | VT_I4;
  V_I4REF(&inner.v) = &port;
  std::vector<Variant> params(2);
  V_VT(&params[0].v) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&params[0].v) = &name;
  V_VT(&params[1].v) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&params[1].v) = &inner.v;
  Variant ret;
  ASSERT_EQ(Call(L"SetParameter", params, ret), S_OK);
  EXPECT_EQ(V_I4(&ret.v), 1);
  Variant value;
  ASSERT_EQ(ext_->GetPropVal(1, &value.v), S_OK);
  ASSERT_EQ(V_VT(&value.v), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&value.v)), L"4242");
  // The references stay the caller's: the array elements were cleared
  // above without freeing what they point at.
  EXPECT_EQ(std::wstring(name), L"propPortNumber");
  ::SysFreeString(name);
}

TEST_F(Component, ParameterArraysOfAnotherShapeReadAsEmpty) {
  Start(true);
  Bstr set(L"SetParameter");
  long number = -1;
  ASSERT_EQ(ext_->FindMethod(set.b, &number), S_OK);
  // No array at all, an array of integers, a two-dimensional array.
  SAFEARRAY* none = nullptr;
  SAFEARRAY* integers = ::SafeArrayCreateVector(VT_I4, 0, 2);
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* square = ::SafeArrayCreate(VT_VARIANT, 2, bounds);
  for (SAFEARRAY** array : {&none, &integers, &square}) {
    Variant ret;
    EXPECT_EQ(ext_->CallAsFunc(number, &ret.v, array), S_OK);
    EXPECT_EQ(V_I4(&ret.v), 0);
    const Error e = LastError();
    EXPECT_EQ(e.text, L"Error when setting. Parameter name  missing");
  }
  ::SafeArrayDestroy(integers);
  ::SafeArrayDestroy(square);
  EXPECT_EQ(init_->GetInfo(&none), S_OK);
  EXPECT_EQ(init_->GetInfo(nullptr), S_OK);
}

// A host may allocate the parameter array's descriptor and data itself,
// leaving out the flags that name the element type. Its VARIANTs are read and
// written all the same; the elements stay the host's to clear.
class UntypedArray {
 public:
  explicit UntypedArray(std::vector<Variant>& params) {
    EXPECT_EQ(::SafeArrayAllocDescriptor(1, &array_), S_OK);
    array_->fFeatures = 0;
    array_->cbElements = sizeof(VARIANT);
    array_->rgsabound[0].cElements = static_cast<ULONG>(params.size());
    array_->rgsabound[0].lLbound = 0;
    EXPECT_EQ(::SafeArrayAllocData(array_), S_OK);
    for (size_t i = 0; i < params.size(); ++i) {
      ::VariantInit(&Element(i));
      ::VariantCopy(&Element(i), &params[i].v);
    }
    size_ = params.size();
  }
  ~UntypedArray() {
    for (size_t i = 0; i < size_; ++i) ::VariantClear(&Element(i));
    ::SafeArrayDestroyData(array_);
    ::SafeArrayDestroyDescriptor(array_);
  }
  UntypedArray(const UntypedArray&) = delete;
  UntypedArray& operator=(const UntypedArray&) = delete;
  SAFEARRAY** Address() { return &array_; }
  VARIANT& Element(size_t i) { return static_cast<VARIANT*>(array_->pvData)[i]; }

 private:
  SAFEARRAY* array_ = nullptr;
  size_t size_ = 0;
};

TEST_F(Component, ParameterArraysWithoutTypeFlagsAreReadAndWritten) {
  Start(true);
  auto call = [this](const wchar_t* method, UntypedArray& array, Variant& ret) {
    Bstr name(method);
    long number = -1;
    EXPECT_EQ(ext_->FindMethod(name.b, &number), S_OK);
    return ext_->CallAsFunc(number, &ret.v, array.Address());
  };

  std::vector<Variant> set = {Text(L"propPortNumber"), Text(L"4242")};
  UntypedArray set_array(set);
  VARTYPE vt = VT_EMPTY;
  ASSERT_TRUE(FAILED(::SafeArrayGetVartype(*set_array.Address(), &vt))) << "the array names a type";
  Variant set_ret;
  ASSERT_EQ(call(L"SetParameter", set_array, set_ret), S_OK);
  EXPECT_EQ(V_I4(&set_ret.v), 1);
  Variant port;
  ASSERT_EQ(ext_->GetPropVal(1, &port.v), S_OK);
  ASSERT_EQ(V_VT(&port.v), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&port.v)), L"4242");

  std::vector<Variant> wrong = {Text(L"propNothing"), Text(L"1")};
  UntypedArray wrong_array(wrong);
  Variant wrong_ret;
  ASSERT_EQ(call(L"SetParameter", wrong_array, wrong_ret), S_OK);
  EXPECT_EQ(V_I4(&wrong_ret.v), 0);

  // The out parameter replaces what the host had put there.
  std::vector<Variant> error = {Text(L"placeholder")};
  UntypedArray error_array(error);
  Variant error_ret;
  ASSERT_EQ(call(L"GetLastError", error_array, error_ret), S_OK);
  EXPECT_EQ(V_I4(&error_ret.v), 8);
  ASSERT_EQ(V_VT(&error_array.Element(0)), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&error_array.Element(0))),
            L"Error when setting. Parameter name propNothing missing");
}

TEST_F(Component, LoneSurrogatesInNamesAndLocales) {
  Start(true);
  long number = 0;
  Bstr broken(std::wstring{L'O', wchar_t(0xDC00), L'p', L'e', L'n'});
  EXPECT_EQ(ext_->FindMethod(broken.b, &number), S_FALSE);
  EXPECT_EQ(number, -1);
  Bstr ru(std::wstring{wchar_t(0xD800), L'r', L'u'});
  EXPECT_EQ(locale_->SetLocale(ru.b), S_OK);
  std::vector<Variant> params(7);
  Variant ret;
  ASSERT_EQ(Call(L"GetDescription", params, ret), S_OK);
  EXPECT_EQ(std::wstring(V_BSTR(&params[0].v)), L"Вемлар ТСД");
}

// --- the DLL's own entry points --------------------------------------------

class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(DllPath().empty()) << "VTSD_DLL names the DLL";
    module_ = ::LoadLibraryW(DllPath().c_str());
    ASSERT_NE(module_, nullptr);
    ::CoInitialize(nullptr);
  }
  void TearDown() override {
    ::CoUninitialize();
    if (module_) ::FreeLibrary(module_);
  }
  template <typename F>
  F Entry(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }
  HMODULE module_ = nullptr;
};

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgFn = HRESULT(STDAPICALLTYPE*)();
using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, PCWSTR);

TEST_F(Module, ClassFactoryMakesANewObjectForEveryRequest) {
  auto get_class_object = Entry<GetClassObjectFn>("DllGetClassObject");
  auto can_unload = Entry<NoArgFn>("DllCanUnloadNow");
  ASSERT_NE(get_class_object, nullptr);
  ASSERT_NE(can_unload, nullptr);

  void* p = nullptr;
  EXPECT_EQ(get_class_object(IID_IInitDone, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get_class_object(CLSID_VemlarTSD, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* a = nullptr;
  IUnknown* b = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
  EXPECT_NE(a, b);
  IUnknown* outer = a;
  IUnknown* aggregated = nullptr;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
            CLASS_E_NOAGGREGATION);
  factory->Release();
  EXPECT_EQ(can_unload(), S_FALSE) << "objects alive";
  a->Release();
  b->Release();
  EXPECT_EQ(can_unload(), S_OK);
}

std::wstring ReadDefault(HKEY root, const std::wstring& path) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (::RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return L"<missing>";
  return buffer;
}

TEST_F(Module, PerUserRegistrationWritesAndRemovesTheKeys) {
  auto install = Entry<InstallFn>("DllInstall");
  ASSERT_NE(install, nullptr);
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring clsid_key = classes + L"CLSID\\" + kClsidText;
  ASSERT_EQ(install(TRUE, L"user"), S_OK);
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, clsid_key), L"VemlarTSD");
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, clsid_key + L"\\ProgID"), L"AddIn.VemlarTSD");
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + L"AddIn.VemlarTSD"), L"VemlarTSD");
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + L"AddIn.VemlarTSD\\Clsid"), kClsidText);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(module_, path, MAX_PATH);
  std::wstring expected_path = path;
  if (expected_path.find(L' ') != std::wstring::npos) {
    wchar_t short_path[MAX_PATH] = {};
    if (::GetShortPathNameW(path, short_path, MAX_PATH)) expected_path = short_path;
  }
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, clsid_key + L"\\InprocServer32"), expected_path);
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, (clsid_key + L"\\InprocServer32").c_str(),
                           L"ThreadingModel", RRF_RT_ANY, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND)
      << "no threading model is registered";

  ASSERT_EQ(install(FALSE, L"USER"), S_OK);
  HKEY key = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, clsid_key.c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, (classes + L"AddIn.VemlarTSD").c_str(), 0,
                            KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  // The machine-wide registration is untouched.
  EXPECT_EQ(ReadDefault(HKEY_LOCAL_MACHINE, classes + L"AddIn.VemlarTSD\\Clsid"), kClsidText);
}

TEST_F(Module, VersionResource) {
  const std::wstring path = DllPath();
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(2, 1));
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(2, 1));
  auto string_value = [&](const wchar_t* name) {
    wchar_t* text = nullptr;
    UINT chars = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041904B0\\") + name;
    if (!::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &chars))
      return std::wstring(L"<missing>");
    return std::wstring(text);
  };
  EXPECT_EQ(string_value(L"FileDescription"), L"Драйвер для 1С.");
  EXPECT_EQ(string_value(L"ProductName"), L"Вемлар ТСД");
  EXPECT_EQ(string_value(L"FileVersion"), L"1.2.0.0");
  EXPECT_EQ(string_value(L"ProductVersion"), L"1.2.0.0");
}

}  // namespace
