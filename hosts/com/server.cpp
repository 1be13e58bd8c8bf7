// The in-process server: the class factory of AddInObject (every creation
// request makes a new object), the entry points COM calls, and
// self-registration under the machine's classes root or, through DllInstall
// with the command line "user", under the current user's classes key.
#include <windows.h>
#include <olectl.h>

#include <new>
#include <string>
#include <vector>

#include "hosts/com/AddInLib.hpp"
#include "hosts/com/AddInObj.hpp"

namespace vtsd::com {
namespace {

HMODULE g_module = nullptr;

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
      return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // The factory is a static object; its references keep the module loaded.
  ULONG STDMETHODCALLTYPE AddRef() override {
    ModuleAddRef();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ModuleRelease();
    return 1;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    AddInObject* created = nullptr;
    try {
      created = new AddInObject();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();  // the caller's reference, if any, keeps it alive
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ModuleAddRef();
    else
      ModuleRelease();
    return S_OK;
  }
};

ClassFactory g_factory;

// --- registration --------------------------------------------------------

struct Key {
  std::wstring path;   // below the classes root
  std::wstring value;  // default value
};

// The full path of this DLL; the 8.3 form when the path holds a space.
bool ModulePath(std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(g_module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return false;
    if (n < buffer.size()) {
      path.assign(buffer.data(), n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  if (path.find(L' ') != std::wstring::npos) {
    const DWORD n = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (n > 0) {
      std::vector<wchar_t> short_path(n);
      const DWORD got = ::GetShortPathNameW(path.c_str(), short_path.data(), n);
      if (got > 0 && got < n) path.assign(short_path.data(), got);
    }
  }
  return true;
}

std::vector<Key> RegistrationKeys(const std::wstring& module_path) {
  const std::wstring class_key = std::wstring(L"CLSID\\") + kClsidText;
  const std::wstring prog_key = kProgId;
  return {
      {class_key, kClassDescription},
      {class_key + L"\\InprocServer32", module_path},
      {class_key + L"\\ProgID", kProgId},
      {prog_key, kClassDescription},
      {prog_key + L"\\Clsid", kClsidText},
  };
}

// The classes root: HKEY_CLASSES_ROOT, or the user's own classes key.
class ClassesRoot {
 public:
  explicit ClassesRoot(bool per_user) {
    if (!per_user) {
      root_ = HKEY_CLASSES_ROOT;
      return;
    }
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &owned_, nullptr) == ERROR_SUCCESS)
      root_ = owned_;
  }
  ~ClassesRoot() {
    if (owned_) ::RegCloseKey(owned_);
  }
  ClassesRoot(const ClassesRoot&) = delete;
  ClassesRoot& operator=(const ClassesRoot&) = delete;
  HKEY get() const { return root_; }

 private:
  HKEY root_ = nullptr;
  HKEY owned_ = nullptr;
};

LONG SetKey(HKEY root, const Key& key) {
  HKEY handle = nullptr;
  LONG rc = ::RegCreateKeyExW(root, key.path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &handle, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = ::RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(key.value.c_str()),
                        static_cast<DWORD>((key.value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return rc;
}

// Whether the class is registered in the other registry view: on a 64-bit
// Windows with both 1C clients, the DLL of the other bitness. The ProgID
// keys are shared by both views; the class keys are not.
bool RegisteredInOtherView(bool per_user) {
  const REGSAM other_view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  const std::wstring path = std::wstring(L"Software\\Classes\\CLSID\\") + kClsidText + L"\\InprocServer32";
  HKEY key = nullptr;
  if (::RegOpenKeyExW(per_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, path.c_str(), 0,
                      KEY_QUERY_VALUE | other_view, &key) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(key);
  return true;
}

HRESULT Unregister(bool per_user) {
  ClassesRoot root(per_user);
  if (!root.get()) return SELFREG_E_CLASS;
  const std::vector<Key> keys = RegistrationKeys(std::wstring());
  HRESULT result = S_OK;
  auto remove = [&](bool prog_id_keys) {
    // Subkeys before their parents; a key that is not there is fine.
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
      if ((it->path.rfind(kProgId, 0) == 0) != prog_id_keys) continue;
      const LONG rc = ::RegDeleteKeyW(root.get(), it->path.c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
    }
  };
  remove(false);
  // Removing the ProgID while the other bitness's DLL is registered would
  // leave that client unable to create the component by name. Where both
  // views are one key, the class is gone from it by now.
  if (!RegisteredInOtherView(per_user)) remove(true);
  return result;
}

HRESULT Register(bool per_user) {
  std::wstring path;
  if (!ModulePath(path)) return SELFREG_E_CLASS;
  ClassesRoot root(per_user);
  if (!root.get()) return SELFREG_E_CLASS;
  for (const Key& key : RegistrationKeys(path)) {
    if (SetKey(root.get(), key) != ERROR_SUCCESS) {
      // Leave nothing half-registered.
      Unregister(per_user);
      return SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

bool IsUserCommandLine(PCWSTR command_line) {
  return command_line && ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, command_line, -1,
                                          L"user", -1) == CSTR_EQUAL;
}

}  // namespace
}  // namespace vtsd::com

using namespace vtsd::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_VemlarTSD)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return Register(false); }

STDAPI DllUnregisterServer() { return Unregister(false); }

// regsvr32 /i:user VemlarTSD.dll registers for the current user only (no
// administrator rights needed); regsvr32 /u /i:user removes that again. Any
// other command line works on the machine's classes root.
STDAPI DllInstall(BOOL install, PCWSTR command_line) {
  const bool per_user = IsUserCommandLine(command_line);
  return install ? Register(per_user) : Unregister(per_user);
}
