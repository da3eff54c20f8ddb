// Self-registration of Update.dll: the registry entries of the Detection
// class and its type library, machine-wide when allowed, else for the user.

#include "registration.h"

#include <olectl.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "detection_contract.h"
#include "module.h"
#include "win_handles.h"

// In oleaut32 since Windows Vista; MinGW's oleauto.h does not declare them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* type_lib, OLECHAR* full_path, OLECHAR* help_dir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID lib_id, WORD major_version, WORD minor_version,
                                        LCID lcid, SYSKIND sys_kind);
}

namespace korvane::update {
namespace {

#define KORVANE_PROGID KORVANE_DETECTION_PROGID
#define KORVANE_CLSID_KEY L"CLSID\\" KORVANE_DETECTION_CLSID_TEXT

using detection::kClsidText;
using detection::kLibIdText;
using detection::kProgId;
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

enum class Scope { kMachine, kUser };

HKEY ScopeRoot(Scope scope) noexcept {
    return scope == Scope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring ExpandTokens(std::wstring_view data, const std::wstring& module_path) {
    if (data == kModuleToken) return module_path;
    if (data == kClsidToken) return kClsidText;
    if (data == kLibIdToken) return kLibIdText;
    return std::wstring(data);
}

LSTATUS WriteEntries(Scope scope, const std::wstring& module_path) {
    UniqueRegistryKey classes;
    LSTATUS status =
        RegCreateKeyExW(ScopeRoot(scope), L"Software\\Classes", 0, nullptr, 0,
                        KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, classes.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    for (const RegistryEntry& entry : kEntries) {
        UniqueRegistryKey key;
        status = RegCreateKeyExW(classes.get(), entry.key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                 key.put(), nullptr);
        if (status != ERROR_SUCCESS) return status;
        std::wstring data = ExpandTokens(entry.data, module_path);
        status = RegSetValueExW(key.get(), entry.name, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

bool KeyExists(HKEY parent, const wchar_t* sub_key) noexcept {
    UniqueRegistryKey key;
    return RegOpenKeyExW(parent, sub_key, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
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
    UniqueRegistryKey classes;
    LSTATUS status = RegOpenKeyExW(ScopeRoot(scope), L"Software\\Classes", 0,
                                   KEY_READ | DELETE | KEY_SET_VALUE, classes.put());
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) {
        // Read access alone tells whether there is anything to remove.
        if (RegOpenKeyExW(ScopeRoot(scope), L"Software\\Classes", 0, KEY_READ, classes.put()) !=
            ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        return KeyExists(classes.get(), kClsidKey) || ProgIdIsOurs(classes.get()) ? status
                                                                                  : ERROR_SUCCESS;
    }
    LSTATUS result = ERROR_SUCCESS;
    if (ProgIdIsOurs(classes.get())) {
        status = RegDeleteTreeW(classes.get(), kProgId);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = status;
    }
    status = RegDeleteTreeW(classes.get(), kClsidKey);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = status;
    return result;
}

bool IsAccessDeniedStatus(LSTATUS status) noexcept { return status == ERROR_ACCESS_DENIED; }
bool IsAccessDeniedResult(HRESULT hr) noexcept {
    return hr == E_ACCESSDENIED || hr == TYPE_E_REGISTRYACCESS ||
           hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

}  // namespace

HRESULT RegisterServer() {
    std::wstring module_path = ModulePath();
    if (module_path.empty()) return SELFREG_E_CLASS;
    ComPtr<ITypeLib> type_lib;
    if (FAILED(LoadModuleTypeLib(type_lib.put()))) return SELFREG_E_TYPELIB;

    // Machine-wide when allowed, else for the current user only.
    Scope scope = Scope::kMachine;
    LSTATUS status = WriteEntries(scope, module_path);
    if (IsAccessDeniedStatus(status)) {
        RemoveEntries(Scope::kMachine);
        scope = Scope::kUser;
        status = WriteEntries(scope, module_path);
    }
    if (status != ERROR_SUCCESS) {
        RemoveEntries(scope);
        return SELFREG_E_CLASS;
    }

    HRESULT hr = E_FAIL;
    if (scope == Scope::kMachine) {
        hr = RegisterTypeLib(type_lib.get(), module_path.data(), nullptr);
        if (IsAccessDeniedResult(hr)) scope = Scope::kUser;
    }
    if (scope == Scope::kUser) {
        hr = RegisterTypeLibForUser(type_lib.get(), module_path.data(), nullptr);
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

    ComPtr<ITypeLib> type_lib;
    if (FAILED(LoadModuleTypeLib(type_lib.put()))) return SELFREG_E_TYPELIB;
    TLIBATTR* attributes = nullptr;
    if (FAILED(type_lib->GetLibAttr(&attributes))) return SELFREG_E_TYPELIB;
    const GUID lib_id = attributes->guid;
    const WORD major = attributes->wMajorVerNum;
    const WORD minor = attributes->wMinorVerNum;
    const LCID lcid = attributes->lcid;
    const SYSKIND sys_kind = attributes->syskind;
    type_lib->ReleaseTLibAttr(attributes);
    // Either call fails harmlessly when its registration is not there.
    UnRegisterTypeLib(lib_id, major, minor, lcid, sys_kind);
    UnRegisterTypeLibForUser(lib_id, major, minor, lcid, sys_kind);
    return complete ? S_OK : SELFREG_E_CLASS;
}

}  // namespace korvane::update
