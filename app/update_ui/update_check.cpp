#include "update_check.h"

#include "detection_contract.h"
#include "frm_msgbox.h"
#include "program_folder.h"
#include "update_notice.h"

namespace korvane {
namespace {

// The publisher's account number with the update service.
constexpr wchar_t kAccount[] = L"" KORVANE_ACCOUNT;

// Two blanks between the tool and the file: the command line exactly as the
// load sequence gives it.
constexpr wchar_t kRegistrationCommand[] = L"regsvr32  Update.dll /S";

// Checks beyond this many running nested inside each other do nothing.
constexpr int kMaxNestedChecks = 8;

bool ComIsInitialized() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return CoGetApartmentType(&type, &qualifier) != CO_E_NOTINITIALIZED;
}

// Writes a notice into the dialog: the caption, Label1, then the button
// caption or the Tag where the notice sets them.
void Fill(FrmMsgbox& dialog, const Notice& notice) {
    dialog.SetCaption(notice.caption);
    dialog.SetLabel1Caption(notice.message);
    if (notice.button_caption) dialog.SetCommand1Caption(*notice.button_caption);
    if (notice.tag) dialog.SetLabel1Tag(*notice.tag);
}

// Update.dll beside the executable.
std::wstring OwnLibraryPath() { return ProgramFolder() + L"\\Update.dll"; }

// Environment variables of a REG_EXPAND_SZ text replaced, or empty.
std::wstring ExpandEnvironment(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) return {};
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written == 0 || written > needed) return {};
    expanded.resize(wcsnlen(expanded.c_str(), expanded.size()));
    return expanded;
}

// The file registered as the class's in-process server, or empty.
std::wstring RegisteredServer(const CLSID& clsid) {
    wchar_t clsid_text[40] = {};
    if (!StringFromGUID2(clsid, clsid_text, 40)) return {};
    const std::wstring key = std::wstring(L"CLSID\\") + clsid_text + L"\\InprocServer32";
    // RegGetValueW refuses REG_EXPAND_SZ without RRF_NOEXPAND: the text is
    // read as stored and expanded here.
    constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, kFlags, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t)) {
        return {};
    }
    std::wstring path(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, kFlags, &type, path.data(),
                     &bytes) != ERROR_SUCCESS) {
        return {};
    }
    path.resize(wcsnlen(path.c_str(), path.size()));
    return type == REG_EXPAND_SZ ? ExpandEnvironment(path) : path;
}

// Update.dll beside the executable, with its own dependencies from its folder
// and the system folder only. Windows 7 without KB2533623 refuses those
// search flags: there the full path with the altered search order does the
// same.
HMODULE LoadOwnLibrary() {
    const std::wstring path = OwnLibraryPath();
    HMODULE library = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER) {
        library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return library;
}

bool OwnLibraryExists() {
    const DWORD attributes = GetFileAttributesW(OwnLibraryPath().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether two paths name the same existing file (volume and file index), so
// that case, short names and other spellings do not matter.
bool SameFile(const std::wstring& a, const std::wstring& b) {
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::wstring* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const UniqueKernelHandle file(CreateFileW(
            paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.get(), &info[i]))
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// Counts a check for as long as it runs.
class RunningCheck {
public:
    explicit RunningCheck(int& running) : running_(++running) {}
    RunningCheck(const RunningCheck&) = delete;
    RunningCheck& operator=(const RunningCheck&) = delete;
    ~RunningCheck() { --running_; }

private:
    int& running_;
};

}  // namespace

UpdateCheck::~UpdateCheck() {
    // After CoUninitialize, which a check that lives until static destruction
    // may outlive, COM may already have unloaded a library it loaded itself:
    // such an object is left alone. One activated here is released while
    // library_ still holds its code.
    if (!library_ && !ComIsInitialized()) UpdateDetector.detach();
    UpdateDetector.reset();
    library_.reset();
}

void UpdateCheck::StartRegistration() {
    // The system's own tool by its full path (in a 32-bit process on 64-bit
    // Windows the folder maps to the 32-bit tool), run in the program's
    // folder: neither a regsvr32.exe nor an Update.dll of the current folder
    // is ever used.
    std::wstring tool(MAX_PATH, L'\0');
    const UINT length = GetSystemDirectoryW(tool.data(), static_cast<UINT>(tool.size()));
    if (length == 0 || length >= tool.size()) return;
    tool.resize(length);
    tool += L"\\regsvr32.exe";
    const std::wstring folder = ProgramFolder();
    std::wstring command = kRegistrationCommand;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINIMIZED;
    PROCESS_INFORMATION process{};
    // Its outcome is not checked.
    if (CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.c_str(), &startup, &process)) {
        // Not waited for: the handles are closed at once.
        const UniqueKernelHandle thread(process.hThread);
        const UniqueKernelHandle child(process.hProcess);
    }
}

void UpdateCheck::CreateDetector() {
    UpdateDetector.reset();
    CLSID clsid{};
    const bool registered = SUCCEEDED(CLSIDFromProgID(detection::kProgId, &clsid));
    // A class registered to another Update.dll (an older install, another
    // copy) would compare against its own version: the library beside the
    // executable is used instead, without registration, as on a first start,
    // when the registration started a moment ago may not have finished.
    if (registered && SameFile(RegisteredServer(clsid), OwnLibraryPath()) &&
        CreateRegistered(clsid))
        return;
    ActivateWithoutRegistration();
    // Only when there is none beside the executable does another one serve:
    // one that is there but fails to load never hands over to another copy.
    if (!UpdateDetector && registered && !OwnLibraryExists()) CreateRegistered(clsid);
}

bool UpdateCheck::CreateRegistered(const CLSID& clsid) {
    return SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      UpdateDetector.put_void()));
}

// Loads Update.dll from the executable's folder and creates the class through
// the library's own class factory.
void UpdateCheck::ActivateWithoutRegistration() {
    if (!library_) {
        library_.reset(LoadOwnLibrary());
        if (!library_) return;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get_class_object = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(library_.get(), "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    if (get_class_object &&
        SUCCEEDED(get_class_object(detection::kClsid, IID_IClassFactory, factory.put_void()))) {
        factory->CreateInstance(nullptr, IID_IDispatch, UpdateDetector.put_void());
    }
    factory.reset();
    if (!UpdateDetector) library_.reset();
}

void UpdateCheck::CheckAtLoad(int check1,
                              const std::function<void(const std::wstring&)>& set_label9_caption) {
    if (checks_running_ >= kMaxNestedChecks) return;
    const RunningCheck running(checks_running_);
    const NoticeAtLoad result = ReplyAtLoad(Updates(), check1);
    if (!result.newer) return;
    if (result.notice) {
        FrmMsgbox& dialog = FrmMsgbox::Instance();
        Fill(dialog, *result.notice);
        if (set_label9_caption) set_label9_caption(kDownloadLinkCaption);
        dialog.Show();
    } else if (set_label9_caption) {
        set_label9_caption(kDownloadLinkCaption);
    }
}

void UpdateCheck::CheckOnRequest() {
    // Each click during a check's wait nests one more check; past the bound
    // a click does nothing.
    if (checks_running_ >= kMaxNestedChecks) return;
    const RunningCheck running(checks_running_);
    const std::wstring reply = Updates();
    FrmMsgbox& dialog = FrmMsgbox::Instance();
    dialog.Show();
    Fill(dialog, ReplyOnRequest(reply));
}

std::wstring UpdateCheck::Updates() {
    // Held for the call: handlers that run while it waits may start another.
    const ComPtr<IDispatch> detector = UpdateDetector;
    if (!detector) return {};

    LPOLESTR name = const_cast<LPOLESTR>(detection::kUpdatesMember);
    DISPID id = 0;
    if (FAILED(detector->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) return {};

    Bstr account(kAccount);
    Bstr product(kProductName);
    if (!account.get() || !product.get()) return {};
    // Arguments go last to first.
    VARIANT arguments[2];
    VariantInit(&arguments[0]);
    arguments[0].vt = VT_BSTR;
    arguments[0].bstrVal = product.get();
    VariantInit(&arguments[1]);
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = account.get();
    DISPPARAMS parameters{arguments, nullptr, 2, 0};

    Variant result;
    EXCEPINFO exception{};
    UINT argument_error = 0;
    const HRESULT hr = detector->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                        &parameters, result.put(), &exception, &argument_error);
    // A failure's texts are not shown, only freed.
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) return {};
    if (result.get().vt != VT_BSTR &&
        FAILED(VariantChangeType(&result.get(), &result.get(), 0, VT_BSTR))) {
        return {};
    }
    const BSTR reply = result.get().bstrVal;
    return std::wstring(reply ? reply : L"", SysStringLen(reply));
}

}  // namespace korvane
