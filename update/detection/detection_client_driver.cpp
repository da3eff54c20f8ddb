// Test driver for Update.dll: creates "Quorvel.Detection" the way a late-bound
// caller does and prints what its members answer, one result per line in
// UTF-8, for detection_wine_test.py to check.
//
//   detection_client_driver updates ACCOUNT APPNAME
//   detection_client_driver date
//   detection_client_driver nested ACCOUNT1 ACCOUNT2 APPNAME
//   detection_client_driver lifetime PATH_OF_UPDATE_DLL
//   detection_client_driver classes-dacl [SDDL]  (prints, or sets, the DACL of
//                                                 HKLM\Software\Classes)

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

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
    if (argc < 2) {
        PrintLine(L"usage: detection_client_driver updates|date|nested|lifetime ...");
        return 2;
    }
    std::wstring_view command = argv[1];
    if (FAILED(CoInitialize(nullptr))) return 1;
    int status = 2;
    if (command == L"lifetime" && argc == 3) {
        status = RunLifetime(argv[2]);
    } else if (command == L"classes-dacl" && argc <= 3) {
        status = RunClassesDacl(argc == 3 ? argv[2] : nullptr);
    } else {
        ComPtr<IDispatch> dispatch;
        HRESULT hr = CreateDetection(dispatch.put());
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
