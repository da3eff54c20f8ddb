// Test helper: a stranger's Update.dll. It leaves an empty file beside itself
// when it is loaded (Update.dll.loaded) and when it is asked to register
// (Update.dll.registered), and offers no class.
#include <windows.h>

#include <string>

namespace {

HMODULE self = nullptr;

void Mark(const wchar_t* suffix) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::wstring marker = std::wstring(path, length) + suffix;
    const HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        Mark(L".loaded");
    }
    return TRUE;
}

STDAPI DllRegisterServer() {
    Mark(L".registered");
    return S_OK;
}

STDAPI DllUnregisterServer() { return S_OK; }

STDAPI DllGetClassObject(REFCLSID, REFIID, void** out) {
    if (out) *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return S_OK; }
