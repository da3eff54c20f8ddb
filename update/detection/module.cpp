// The exports of Update.dll: the class factory of Detection, the unload test
// and self-registration.

#include <windows.h>
#include <initguid.h>
#include <olectl.h>
#include <oleauto.h>

#include <atomic>
#include <new>
#include <string>
#include <string_view>

#include "com_ptr.h"
#include "detection.h"
#include "module.h"

// In oleaut32 since Windows Vista; MinGW's oleauto.h does not declare them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* typeLib, OLECHAR* fullPath, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libId, WORD majorVersion, WORD minorVersion,
                                        LCID lcid, SYSKIND sysKind);
}

namespace korvane::update {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_moduleLocks{0};

class ClassFactory final : public IClassFactory {
public:
    ClassFactory() noexcept { LockModule(); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Detection::Create(iid, object);
    }
    STDMETHODIMP LockServer(BOOL lock) noexcept override {
        if (lock) {
            LockModule();
        } else {
            UnlockModule();
        }
        return S_OK;
    }

private:
    ~ClassFactory() { UnlockModule(); }
    std::atomic<ULONG> references_{1};
};

// ---- Registration -------------------------------------------------------

#define KORVANE_PROGID L"Quorvel.Detection"
#define KORVANE_CLSID_KEY L"CLSID\\{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}"

constexpr wchar_t kProgId[] = KORVANE_PROGID;
constexpr wchar_t kClsidText[] = L"{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}";
constexpr wchar_t kLibIdText[] = L"{FBF999FA-4930-416D-8801-5CEDEC3777F0}";
constexpr wchar_t kClsidKey[] = KORVANE_CLSID_KEY;
constexpr wchar_t kModuleToken[] = L"<module>";
constexpr wchar_t kClsidToken[] = L"<clsid>";
constexpr wchar_t kLibIdToken[] = L"<libid>";

struct RegistryEntry {
    const wchar_t* key;   // below the Classes root
    const wchar_t* name;  // nullptr for the key's default value
    const wchar_t* data;  // the tokens above stand for the run-time values
};

// Written in this order; the ProgID and the CLSID key are the two trees that
// unregistration removes.
constexpr RegistryEntry kEntries[] = {
    {KORVANE_PROGID, nullptr, KORVANE_PROGID},
    {KORVANE_PROGID L"\\CLSID", nullptr, kClsidToken},
    {KORVANE_CLSID_KEY, nullptr, KORVANE_PROGID},
    {KORVANE_CLSID_KEY L"\\InprocServer32", nullptr, kModuleToken},
    {KORVANE_CLSID_KEY L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {KORVANE_CLSID_KEY L"\\ProgID", nullptr, KORVANE_PROGID},
    {KORVANE_CLSID_KEY L"\\VersionIndependentProgID", nullptr, KORVANE_PROGID},
    {KORVANE_CLSID_KEY L"\\Programmable", nullptr, L""},
    {KORVANE_CLSID_KEY L"\\TypeLib", nullptr, kLibIdToken},
    {KORVANE_CLSID_KEY L"\\Version", nullptr, L"1.0"},
};

class RegKey {
public:
    RegKey() noexcept = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    HKEY Get() const noexcept { return key_; }
    HKEY* Put() noexcept {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
        return &key_;
    }

private:
    HKEY key_ = nullptr;
};

enum class Scope { kMachine, kUser };

HKEY ScopeRoot(Scope scope) noexcept {
    return scope == Scope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring ExpandTokens(std::wstring_view data, const std::wstring& modulePath) {
    if (data == kModuleToken) return modulePath;
    if (data == kClsidToken) return kClsidText;
    if (data == kLibIdToken) return kLibIdText;
    return std::wstring(data);
}

LSTATUS WriteEntries(Scope scope, const std::wstring& modulePath) {
    RegKey classes;
    LSTATUS status =
        RegCreateKeyExW(ScopeRoot(scope), L"Software\\Classes", 0, nullptr, 0,
                        KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, classes.Put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    for (const RegistryEntry& entry : kEntries) {
        RegKey key;
        status = RegCreateKeyExW(classes.Get(), entry.key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                 key.Put(), nullptr);
        if (status != ERROR_SUCCESS) return status;
        std::wstring data = ExpandTokens(entry.data, modulePath);
        status = RegSetValueExW(key.Get(), entry.name, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

bool KeyExists(HKEY parent, const wchar_t* subKey) noexcept {
    RegKey key;
    return RegOpenKeyExW(parent, subKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

// The ProgID is removed only while it still names this class.
bool ProgIdIsOurs(HKEY classes) noexcept {
    wchar_t clsid[64] = {};
    DWORD size = sizeof(clsid);
    LSTATUS status = RegGetValueW(classes, KORVANE_PROGID L"\\CLSID", nullptr, RRF_RT_REG_SZ,
                                  nullptr, clsid, &size);
    return status == ERROR_SUCCESS &&
           CompareStringOrdinal(clsid, -1, kClsidText, -1, TRUE) == CSTR_EQUAL;
}

// ERROR_SUCCESS when nothing of ours is left in this scope's Classes key.
LSTATUS RemoveEntries(Scope scope) noexcept {
    RegKey classes;
    LSTATUS status = RegOpenKeyExW(ScopeRoot(scope), L"Software\\Classes", 0,
                                   KEY_READ | DELETE | KEY_SET_VALUE, classes.Put());
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) {
        // Read access alone tells whether there is anything to remove.
        if (RegOpenKeyExW(ScopeRoot(scope), L"Software\\Classes", 0, KEY_READ, classes.Put()) !=
            ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        return KeyExists(classes.Get(), kClsidKey) || ProgIdIsOurs(classes.Get()) ? status
                                                                                  : ERROR_SUCCESS;
    }
    LSTATUS result = ERROR_SUCCESS;
    if (ProgIdIsOurs(classes.Get())) {
        status = RegDeleteTreeW(classes.Get(), kProgId);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = status;
    }
    status = RegDeleteTreeW(classes.Get(), kClsidKey);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = status;
    return result;
}

bool IsAccessDeniedStatus(LSTATUS status) noexcept { return status == ERROR_ACCESS_DENIED; }
bool IsAccessDeniedResult(HRESULT hr) noexcept {
    return hr == E_ACCESSDENIED || hr == TYPE_E_REGISTRYACCESS ||
           hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

HRESULT RegisterServer() {
    std::wstring modulePath = ModulePath();
    if (modulePath.empty()) return SELFREG_E_CLASS;
    com::ComPtr<ITypeLib> typeLib;
    if (FAILED(LoadModuleTypeLib(typeLib.Put()))) return SELFREG_E_TYPELIB;

    // Machine-wide when allowed, else for the current user only.
    Scope scope = Scope::kMachine;
    LSTATUS status = WriteEntries(scope, modulePath);
    if (IsAccessDeniedStatus(status)) {
        RemoveEntries(Scope::kMachine);
        scope = Scope::kUser;
        status = WriteEntries(scope, modulePath);
    }
    if (status != ERROR_SUCCESS) {
        RemoveEntries(scope);
        return SELFREG_E_CLASS;
    }

    HRESULT hr = E_FAIL;
    if (scope == Scope::kMachine) {
        hr = RegisterTypeLib(typeLib.Get(), modulePath.data(), nullptr);
        if (IsAccessDeniedResult(hr)) scope = Scope::kUser;
    }
    if (scope == Scope::kUser) {
        hr = RegisterTypeLibForUser(typeLib.Get(), modulePath.data(), nullptr);
    }
    if (FAILED(hr)) {
        RemoveEntries(Scope::kMachine);
        RemoveEntries(Scope::kUser);
        return SELFREG_E_TYPELIB;
    }
    return S_OK;
}

HRESULT UnregisterServer() {
    // The user's keys first: where the user's Classes key is a view of the
    // machine's, the machine check then finds nothing left.
    bool complete = RemoveEntries(Scope::kUser) == ERROR_SUCCESS;
    complete = RemoveEntries(Scope::kMachine) == ERROR_SUCCESS && complete;

    com::ComPtr<ITypeLib> typeLib;
    if (FAILED(LoadModuleTypeLib(typeLib.Put()))) return SELFREG_E_TYPELIB;
    TLIBATTR* attributes = nullptr;
    if (FAILED(typeLib->GetLibAttr(&attributes))) return SELFREG_E_TYPELIB;
    const GUID libId = attributes->guid;
    const WORD major = attributes->wMajorVerNum;
    const WORD minor = attributes->wMinorVerNum;
    const LCID lcid = attributes->lcid;
    const SYSKIND sysKind = attributes->syskind;
    typeLib->ReleaseTLibAttr(attributes);
    // Either call fails harmlessly when its registration is not there.
    UnRegisterTypeLib(libId, major, minor, lcid, sysKind);
    UnRegisterTypeLibForUser(libId, major, minor, lcid, sysKind);
    return complete ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT LoadModuleTypeLib(ITypeLib** typeLib) noexcept {
    if (!typeLib) return E_POINTER;
    *typeLib = nullptr;
    try {
        std::wstring path = ModulePath();
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        return LoadTypeLibEx(path.c_str(), REGKIND_NONE, typeLib);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void LockModule() noexcept { ++g_moduleLocks; }
void UnlockModule() noexcept { --g_moduleLocks; }

}  // namespace korvane::update

using namespace korvane::update;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_Detection) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory;
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() { return g_moduleLocks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    try {
        return RegisterServer();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return UnregisterServer();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
