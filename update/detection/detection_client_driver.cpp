// Test driver for Update.dll: creates "Quorvel.Detection" the way a late-bound
// caller does and prints what its members answer, one result per line in
// UTF-8, for detection_wine_test.py to check. With --dll PATH first, the
// object comes from that file's class factory instead of its registration.
//
//   detection_client_driver [--dll PATH] updates ACCOUNT APPNAME
//   detection_client_driver [--dll PATH] date
//   detection_client_driver nested ACCOUNT1 ACCOUNT2 APPNAME
//   detection_client_driver lifetime PATH_OF_UPDATE_DLL
//   detection_client_driver oom PATH_OF_UPDATE_DLL  (the members and
//                       DllRegisterServer, each with the DLL's first malloc
//                       failing)
//   detection_client_driver boundary   (CallNoThrow with each kind of throw)
//   detection_client_driver classes-dacl [SDDL]  (prints, or sets, the DACL of
//                                                 HKLM\Software\Classes)

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "call_no_throw.h"
#include "detection_contract.h"
#include "utf8_output.h"
#include "win_handles.h"

namespace {

using korvane::ComPtr;
using korvane::testing::PrintLine;
namespace detection = korvane::detection;

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// An object from the class factory of the Update.dll at dll_path, which
// stays loaded.
HRESULT CreateFromLibrary(const wchar_t* dll_path, IDispatch** dispatch) {
    HMODULE module = LoadLibraryW(dll_path);
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get_class_object = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get_class_object) return HRESULT_FROM_WIN32(GetLastError());
    ComPtr<IClassFactory> factory;
    HRESULT hr = get_class_object(detection::kClsid, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(dispatch));
}

HRESULT CreateDetection(IDispatch** dispatch) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(detection::kProgId, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(dispatch));
}

// Calls a member by name; args are in call order.
HRESULT CallByName(IDispatch* dispatch, const wchar_t* name, std::initializer_list<BSTR> args,
                   VARIANT* result, EXCEPINFO* exception) {
    DISPID disp_id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &disp_id);
    if (FAILED(hr)) return hr;
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

// "REPLY <text>" or "ERROR <hr>".
std::wstring CallUpdates(IDispatch* dispatch, const wchar_t* account, const wchar_t* app_name) {
    BSTR account_text = SysAllocString(account);
    BSTR app_text = SysAllocString(app_name);
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    HRESULT hr = CallByName(dispatch, detection::kUpdatesMember, {account_text, app_text}, &result,
                            &exception);
    SysFreeString(account_text);
    SysFreeString(app_text);
    std::wstring line;
    if (FAILED(hr)) {
        line = L"ERROR " + Hex(hr);
    } else if (result.vt != VT_BSTR) {
        line = L"ERROR vt=" + std::to_wstring(result.vt);
    } else {
        line = L"REPLY " + std::wstring(result.bstrVal, SysStringLen(result.bstrVal));
    }
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return line;
}

int RunUpdates(IDispatch* dispatch, const wchar_t* account, const wchar_t* app_name) {
    PrintLine(CallUpdates(dispatch, account, app_name));
    return 0;
}

// "DATE yyyy-mm-dd hh:mm:ss" or "ERROR hr=<hr> scode=<scode> source=<s> description=<d>".
int RunDate(IDispatch* dispatch) {
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    HRESULT hr = CallByName(dispatch, detection::kGetNetDateMember, {}, &result, &exception);
    if (FAILED(hr)) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        auto text = [](BSTR b) { return std::wstring(b ? b : L"", SysStringLen(b)); };
        PrintLine(L"ERROR hr=" + Hex(hr) + L" scode=" + Hex(exception.scode) + L" source=" +
                  text(exception.bstrSource) + L" description=" + text(exception.bstrDescription));
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return 0;
    }
    SYSTEMTIME time{};
    if (result.vt != VT_DATE || !VariantTimeToSystemTime(result.date, &time)) {
        PrintLine(L"ERROR vt=" + std::to_wstring(result.vt));
        return 0;
    }
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
    if (!SetTimer(nullptr, 0, 100, NestedTimerProc)) {
        PrintLine(L"ERROR SetTimer");
        return 1;
    }
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
    HMODULE module = LoadLibraryW(dll_path);
    if (!module) {
        PrintLine(L"ERROR LoadLibrary");
        return 1;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    auto get_class_object = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto can_unload = reinterpret_cast<CanUnloadFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    if (!get_class_object || !can_unload) {
        PrintLine(L"ERROR exports");
        return 1;
    }
    const CLSID clsid = detection::kClsid;
    auto state = [&](const wchar_t* step) {
        PrintLine(std::wstring(step) + L" " + (can_unload() == S_OK ? L"unloadable" : L"busy"));
    };
    state(L"start");
    {
        IClassFactory* factory = nullptr;
        HRESULT hr = get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (FAILED(hr)) {
            PrintLine(L"ERROR DllGetClassObject " + Hex(hr));
            return 1;
        }
        state(L"factory");
        factory->LockServer(TRUE);
        factory->Release();
        state(L"locked");
        get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        factory->LockServer(FALSE);
        IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
        IUnknown* aggregated = nullptr;
        PrintLine(L"aggregation " +
                  Hex(factory->CreateInstance(outer, IID_IUnknown,
                                              reinterpret_cast<void**>(&aggregated))));
        IDispatch* dispatch = nullptr;
        hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        factory->Release();
        if (FAILED(hr)) {
            PrintLine(L"ERROR CreateInstance " + Hex(hr));
            return 1;
        }
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
    HMODULE module = LoadLibraryW(dll_path);
    if (!module) {
        PrintLine(L"ERROR LoadLibrary");
        return 1;
    }
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto register_server = reinterpret_cast<RegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    g_real_malloc = reinterpret_cast<MallocFn>(
        PatchImport(module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(FailingMalloc)));
    if (!register_server || !g_real_malloc) {
        PrintLine(L"ERROR exports or malloc import");
        return 1;
    }
    ComPtr<IDispatch> dispatch;
    HRESULT hr = CreateFromLibrary(dll_path, dispatch.put());
    if (FAILED(hr)) {
        PrintLine(L"ERROR create " + Hex(hr));
        return 1;
    }
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
    HKEY key = nullptr;
    LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, READ_CONTROL | WRITE_DAC, &key);
    if (status != ERROR_SUCCESS) {
        PrintLine(L"ERROR open " + std::to_wstring(status));
        return 1;
    }
    int result = 0;
    if (!sddl) {
        BYTE buffer[4096];
        DWORD size = sizeof(buffer);
        LPWSTR text = nullptr;
        status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer, &size);
        if (status == ERROR_SUCCESS &&
            ConvertSecurityDescriptorToStringSecurityDescriptorW(
                buffer, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
            PrintLine(L"DACL " + std::wstring(text));
            LocalFree(text);
        } else {
            PrintLine(L"ERROR get " + std::to_wstring(status));
            result = 1;
        }
    } else {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                                 nullptr) &&
            (status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor)) ==
                ERROR_SUCCESS) {
            PrintLine(L"SET");
        } else {
            PrintLine(L"ERROR set " + std::to_wstring(status));
            result = 1;
        }
        LocalFree(descriptor);
    }
    RegCloseKey(key);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* dll_path = nullptr;
    if (argc >= 3 && std::wstring_view(argv[1]) == L"--dll") {
        dll_path = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc < 2) {
        PrintLine(L"usage: detection_client_driver updates|date|nested|lifetime|oom|boundary ...");
        return 2;
    }
    std::wstring_view command = argv[1];
    if (FAILED(CoInitialize(nullptr))) return 1;
    int status = 2;
    if (command == L"lifetime" && argc == 3) {
        status = RunLifetime(argv[2]);
    } else if (command == L"oom" && argc == 3) {
        status = RunOutOfMemory(argv[2]);
    } else if (command == L"boundary" && argc == 2) {
        status = RunBoundary();
    } else if (command == L"classes-dacl" && argc <= 3) {
        status = RunClassesDacl(argc == 3 ? argv[2] : nullptr);
    } else {
        ComPtr<IDispatch> dispatch;
        HRESULT hr = dll_path ? CreateFromLibrary(dll_path, dispatch.put())
                              : CreateDetection(dispatch.put());
        if (FAILED(hr)) {
            PrintLine(L"ERROR create " + Hex(hr));
            status = 1;
        } else if (command == L"updates" && argc == 4) {
            status = RunUpdates(dispatch.get(), argv[2], argv[3]);
        } else if (command == L"date" && argc == 2) {
            status = RunDate(dispatch.get());
        } else if (command == L"nested" && argc == 5) {
            status = RunNested(dispatch.get(), argv[2], argv[3], argv[4]);
        }
    }
    CoUninitialize();
    return status;
}
