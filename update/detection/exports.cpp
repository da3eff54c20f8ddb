// The exports of Update.dll, the standard set of an in-process COM server.
// Each one hands its work to the file that names it, inside the exception
// boundary.

#include <windows.h>

#include "call_no_throw.h"
#include "class_factory.h"
#include "lock_count.h"
#include "module.h"
#include "registration.h"

using namespace korvane::update;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleHandle(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    return CallNoThrow([&] { return GetClassObject(clsid, iid, object); });
}

STDAPI DllCanUnloadNow() {
    return CallNoThrow([] { return ModuleIsUnused() ? S_OK : S_FALSE; });
}

STDAPI DllRegisterServer() { return CallNoThrow(RegisterServer); }

STDAPI DllUnregisterServer() { return CallNoThrow(UnregisterServer); }
