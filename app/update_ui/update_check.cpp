#include "update_check.h"

#include "detection_contract.h"
#include "frm_msgbox.h"
#include "program_folder.h"
#include "update_notice.h"

namespace korvane {
namespace {

// The publisher's account number with the update service.
constexpr wchar_t kAccount[] = L"" KORVANE_ACCOUNT;

// Two blanks: the command line exactly as the program has always run it.
constexpr wchar_t kRegistrationCommand[] = L"regsvr32  Update.dll /S";

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
    std::wstring command = kRegistrationCommand;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINIMIZED;
    PROCESS_INFORMATION process{};
    // Runs in the current folder, which it inherits; its outcome is not checked.
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        // Not waited for: the handles are closed at once.
        const UniqueKernelHandle thread(process.hThread);
        const UniqueKernelHandle child(process.hProcess);
    }
}

void UpdateCheck::CreateDetector() {
    UpdateDetector.reset();
    CLSID clsid{};
    if (SUCCEEDED(CLSIDFromProgID(detection::kProgId, &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   UpdateDetector.put_void()))) {
        return;
    }
    // On a first start the registration started a moment ago may not have
    // finished, or may not be allowed at all.
    ActivateWithoutRegistration();
}

// Loads Update.dll from the executable's folder and creates the class through
// the library's own class factory.
void UpdateCheck::ActivateWithoutRegistration() {
    if (!library_) {
        const std::wstring path = ProgramFolder() + L"\\Update.dll";
        library_.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
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
