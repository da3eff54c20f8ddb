// Test driver for Update.dll: creates "Quorvel.Detection" the way a late-bound
// caller does and prints what its members answer, one result per line in
// UTF-8, for detection_wine_test.py to check. With --dll PATH first, the
// object comes from that file's class factory instead of its registration.
// The class's names are written out here as its callers know them, not taken
// from the library's own headers: a change there must fail here. Commands:
// [--dll PATH] updates ACCOUNT APPNAME | [--dll PATH] date | nested ACCOUNT1
// ACCOUNT2 APPNAME | lifetime DLL (with the members' dispatch ids) | oom DLL (the
// members and DllRegisterServer, each with the DLL's first malloc failing) |
// boundary (CallNoThrow with each kind of throw) | classes-dacl [SDDL] (prints
// or sets the DACL of HKLM\Software\Classes).

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <sddl.h>

#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "call_no_throw.h"
#include "test_driver.h"
#include "win_handles.h"

namespace {

using korvane::ComPtr;
using korvane::testing::Args;
using korvane::testing::Export;
using korvane::testing::Hex;
using korvane::testing::PrintLine;
using korvane::testing::PrintLineAndReturn;

// The class and its members, as published.
constexpr wchar_t kProgId[] = L"Quorvel.Detection";
constexpr wchar_t kClsidText[] = L"{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}";
constexpr wchar_t kUpdates[] = L"Updates";
constexpr wchar_t kGetNetDate[] = L"GetNetDate";

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

CLSID DetectionClsid() {
    CLSID clsid{};
    CLSIDFromString(kClsidText, &clsid);
    return clsid;
}

// The class factory of Detection from the Update.dll at dll_path, which
// stays loaded.
HRESULT FactoryFromLibrary(const wchar_t* dll_path, IClassFactory** factory) {
    const auto get_class_object =
        Export<GetClassObjectFn>(LoadLibraryW(dll_path), "DllGetClassObject");
    if (!get_class_object) return HRESULT_FROM_WIN32(GetLastError());
    return get_class_object(DetectionClsid(), IID_IClassFactory, reinterpret_cast<void**>(factory));
}

HRESULT CreateFromLibrary(const wchar_t* dll_path, IDispatch** dispatch) {
    ComPtr<IClassFactory> factory;
    const HRESULT hr = FactoryFromLibrary(dll_path, factory.put());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(dispatch));
}

// Through the registration: the ProgID must name the published CLSID.
HRESULT CreateDetection(IDispatch** dispatch) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
    if (FAILED(hr)) return hr;
    if (!IsEqualCLSID(clsid, DetectionClsid())) return REGDB_E_CLASSNOTREG;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(dispatch));
}

DISPID IdOf(IDispatch* dispatch, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

// Calls a member by name; args are in call order.
HRESULT CallByName(IDispatch* dispatch, const wchar_t* name, std::initializer_list<BSTR> args,
                   VARIANT* result, EXCEPINFO* exception) {
    const DISPID disp_id = IdOf(dispatch, name);
    if (disp_id == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    VARIANT reversed[4];
    UINT count = 0;
    for (auto it = std::rbegin(args); it != std::rend(args) && count < 4; ++it, ++count) {
        VariantInit(&reversed[count]);
        reversed[count].vt = VT_BSTR;
        reversed[count].bstrVal = *it;
    }
    DISPPARAMS params{count ? reversed : nullptr, nullptr, count, 0};
    UINT argument_error = 0;
    return dispatch->Invoke(disp_id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                            result, exception, &argument_error);
}

void FreeException(EXCEPINFO& exception) {
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

// "REPLY <text>" or "ERROR <hr>".
std::wstring CallUpdates(IDispatch* dispatch, const wchar_t* account, const wchar_t* app_name) {
    BSTR account_text = SysAllocString(account);
    BSTR app_text = SysAllocString(app_name);
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    HRESULT hr = CallByName(dispatch, kUpdates, {account_text, app_text}, &result, &exception);
    SysFreeString(account_text);
    SysFreeString(app_text);
    const std::wstring line =
        FAILED(hr) ? L"ERROR " + Hex(hr)
        : result.vt != VT_BSTR
            ? L"ERROR vt=" + std::to_wstring(result.vt)
            : L"REPLY " + std::wstring(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    FreeException(exception);
    return line;
}

// "DATE yyyy-mm-dd hh:mm:ss" or "ERROR hr=<hr> scode=<scode> source=<s> description=<d>".
int RunDate(IDispatch* dispatch) {
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    HRESULT hr = CallByName(dispatch, kGetNetDate, {}, &result, &exception);
    if (FAILED(hr)) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        auto text = [](BSTR b) { return std::wstring(b ? b : L"", SysStringLen(b)); };
        PrintLine(L"ERROR hr=" + Hex(hr) + L" scode=" + Hex(exception.scode) + L" source=" +
                  text(exception.bstrSource) + L" description=" + text(exception.bstrDescription));
        FreeException(exception);
        return 0;
    }
    SYSTEMTIME time{};
    if (result.vt != VT_DATE || !VariantTimeToSystemTime(result.date, &time))
        return PrintLineAndReturn(L"ERROR vt=" + std::to_wstring(result.vt), 0);
    wchar_t text[64];
    swprintf(text, 64, L"DATE %04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
    PrintLine(text);
    return 0;
}

// A timer handler that calls Updates while an outer Updates is still waiting.
struct NestedCall {
    IDispatch* dispatch = nullptr;
    const wchar_t* account = nullptr;
    const wchar_t* app_name = nullptr;
    bool outer_running = false;
    bool ran_inside_outer = false;
    std::wstring reply;
};
NestedCall g_nested;

void CALLBACK NestedTimerProc(HWND, UINT, UINT_PTR timer_id, DWORD) {
    KillTimer(nullptr, timer_id);
    g_nested.ran_inside_outer = g_nested.outer_running;
    g_nested.reply = CallUpdates(g_nested.dispatch, g_nested.account, g_nested.app_name);
}

int RunNested(IDispatch* dispatch, const wchar_t* outer_account, const wchar_t* inner_account,
              const wchar_t* app_name) {
    g_nested = NestedCall{};
    g_nested.dispatch = dispatch;
    g_nested.account = inner_account;
    g_nested.app_name = app_name;
    if (!SetTimer(nullptr, 0, 100, NestedTimerProc))
        return PrintLineAndReturn(L"ERROR SetTimer", 1);
    g_nested.outer_running = true;
    std::wstring outer = CallUpdates(dispatch, outer_account, app_name);
    g_nested.outer_running = false;
    PrintLine(L"OUTER " + outer);
    PrintLine(L"INNER " + g_nested.reply);
    PrintLine(g_nested.ran_inside_outer ? L"NESTED yes" : L"NESTED no");
    return 0;
}

// Loads the DLL directly and follows DllCanUnloadNow through the life of a
// class factory, a server lock and an object.
int RunLifetime(const wchar_t* dll_path) {
    const auto can_unload =
        Export<HRESULT(STDAPICALLTYPE*)()>(LoadLibraryW(dll_path), "DllCanUnloadNow");
    if (!can_unload) return PrintLineAndReturn(L"ERROR DllCanUnloadNow", 1);
    auto state = [&](const wchar_t* step) {
        PrintLine(std::wstring(step) + L" " + (can_unload() == S_OK ? L"unloadable" : L"busy"));
    };
    state(L"start");
    {
        IClassFactory* factory = nullptr;
        HRESULT hr = FactoryFromLibrary(dll_path, &factory);
        if (FAILED(hr)) return PrintLineAndReturn(L"ERROR DllGetClassObject " + Hex(hr), 1);
        state(L"factory");
        factory->LockServer(TRUE);
        factory->Release();
        state(L"locked");
        FactoryFromLibrary(dll_path, &factory);
        factory->LockServer(FALSE);
        IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
        IUnknown* aggregated = nullptr;
        PrintLine(L"aggregation " +
                  Hex(factory->CreateInstance(outer, IID_IUnknown,
                                              reinterpret_cast<void**>(&aggregated))));
        IDispatch* dispatch = nullptr;
        hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        factory->Release();
        if (FAILED(hr)) return PrintLineAndReturn(L"ERROR CreateInstance " + Hex(hr), 1);
        state(L"object");
        ComPtr<IProvideClassInfo> class_info;
        ComPtr<ITypeInfo> coclass;
        BSTR name = nullptr;
        if (SUCCEEDED(dispatch->QueryInterface(IID_IProvideClassInfo, class_info.put_void())) &&
            SUCCEEDED(class_info->GetClassInfo(coclass.put())) &&
            SUCCEEDED(coclass->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr))) {
            PrintLine(L"class " + std::wstring(name, SysStringLen(name)));
            SysFreeString(name);
        }
        PrintLine(L"dispids " + Hex(IdOf(dispatch, kUpdates)) + L" " +
                  Hex(IdOf(dispatch, kGetNetDate)));
        dispatch->Release();
    }
    state(L"released");
    return 0;
}

// Out of memory inside Update.dll: its import of the C runtime's malloc is
// pointed at a function that fails the next allocation once g_fail_next is
// set, so that operator new throws std::bad_alloc in the library's own code.
// (Only that one: the exception object itself is allocated next.)
using MallocFn = void*(__cdecl*)(std::size_t);
MallocFn g_real_malloc = nullptr;
bool g_fail_next = false;

void* __cdecl FailingMalloc(std::size_t size) {
    if (g_fail_next) {
        g_fail_next = false;
        return nullptr;
    }
    return g_real_malloc(size);
}

// Replaces the import address of `function` from `dll` in `module`; the old
// address, or nullptr when the module does not import it.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return nullptr;
    for (auto* import =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name; ++import) {
        if (_stricmp(reinterpret_cast<const char*>(base + import->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            base + (import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk));
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&addresses->u1.Function, sizeof(void*), PAGE_READWRITE,
                                &protection))
                return nullptr;
            void* old = reinterpret_cast<void*>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof(void*), protection, &protection);
            return old;
        }
    }
    return nullptr;
}

// Loads the DLL, creates an object through its class factory, then calls
// Updates, GetNetDate and DllRegisterServer, each with its first allocation
// failing, and prints what each returns.
int RunOutOfMemory(const wchar_t* dll_path) {
    const HMODULE module = LoadLibraryW(dll_path);
    const auto register_server = Export<HRESULT(STDAPICALLTYPE*)()>(module, "DllRegisterServer");
    if (register_server) {
        g_real_malloc = reinterpret_cast<MallocFn>(
            PatchImport(module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(FailingMalloc)));
    }
    if (!register_server || !g_real_malloc)
        return PrintLineAndReturn(L"ERROR exports or malloc import", 1);
    ComPtr<IDispatch> dispatch;
    HRESULT hr = CreateFromLibrary(dll_path, dispatch.put());
    if (FAILED(hr)) return PrintLineAndReturn(L"ERROR create " + Hex(hr), 1);
    g_fail_next = true;
    const std::wstring updates = CallUpdates(dispatch.get(), L"10001", L"Korvane");
    PrintLine(L"UPDATES " + updates + (g_fail_next ? L" (nothing allocated)" : L""));
    g_fail_next = true;
    RunDate(dispatch.get());
    g_fail_next = true;
    hr = register_server();
    PrintLine(L"REGISTER " + Hex(hr) + (g_fail_next ? L" (nothing allocated)" : L""));
    g_fail_next = false;
    return 0;
}

// The library's exception boundary with each kind of outcome of its body.
int RunBoundary() {
    using korvane::update::CallNoThrow;
    PrintLine(L"returned " + Hex(CallNoThrow([] { return S_FALSE; })));
    PrintLine(L"failed " + Hex(CallNoThrow([] { return DISP_E_TYPEMISMATCH; })));
    PrintLine(L"bad_alloc " + Hex(CallNoThrow([]() -> HRESULT { throw std::bad_alloc(); })));
    PrintLine(L"runtime_error " +
              Hex(CallNoThrow([]() -> HRESULT { throw std::runtime_error("x"); })));
    PrintLine(L"int " + Hex(CallNoThrow([]() -> HRESULT { throw 7; })));
    return 0;
}

// Prints the DACL of the machine's Classes key as SDDL, or replaces it, so
// that a test can make machine-wide registration fail with access denied.
int RunClassesDacl(const wchar_t* sddl) {
    korvane::UniqueRegistryKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0,
                                   READ_CONTROL | WRITE_DAC, key.put());
    BYTE buffer[4096];
    DWORD size = sizeof(buffer);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR text = nullptr;
    if (status == ERROR_SUCCESS && !sddl &&
        (status = RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, buffer, &size)) ==
            ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            buffer, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        PrintLine(L"DACL " + std::wstring(text));
        LocalFree(text);
        return 0;
    }
    if (status == ERROR_SUCCESS && sddl &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
        status = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
        if (status == ERROR_SUCCESS) return PrintLineAndReturn(L"SET", 0);
    }
    PrintLine(L"ERROR " + std::to_wstring(status));
    return 1;
}

// The DLL that --dll names: WithObject creates from its class factory, not
// through the registration.
const wchar_t* g_dll_path = nullptr;

int WithObject(const std::function<int(IDispatch*)>& run) {
    ComPtr<IDispatch> dispatch;
    const HRESULT hr = g_dll_path ? CreateFromLibrary(g_dll_path, dispatch.put())
                                  : CreateDetection(dispatch.put());
    if (FAILED(hr)) return PrintLineAndReturn(L"ERROR create " + Hex(hr), 1);
    return run(dispatch.get());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring_view(argv[1]) == L"--dll") {
        g_dll_path = argv[2];
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    const korvane::ComApartment com;
    if (FAILED(com.result())) return 1;
    return korvane::testing::RunCommand(
        argc, argv,
        {
            {L"updates", 2, 2,
             [](const Args& args) {
                 return WithObject([&](IDispatch* dispatch) {
                     return PrintLineAndReturn(CallUpdates(dispatch, args[0], args[1]), 0);
                 });
             }},
            {L"date", 0, 0, [](const Args&) { return WithObject(RunDate); }},
            {L"nested", 3, 3,
             [](const Args& args) {
                 return WithObject([&](IDispatch* dispatch) {
                     return RunNested(dispatch, args[0], args[1], args[2]);
                 });
             }},
            {L"lifetime", 1, 1, [](const Args& args) { return RunLifetime(args[0]); }},
            {L"oom", 1, 1, [](const Args& args) { return RunOutOfMemory(args[0]); }},
            {L"boundary", 0, 0, [](const Args&) { return RunBoundary(); }},
            {L"classes-dacl", 0, 1, [](const Args& args) { return RunClassesDacl(args[0]); }},
        });
}
