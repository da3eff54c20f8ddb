#include "detection.h"

#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "call_no_throw.h"
#include "detection_contract.h"
#include "lock_count.h"
#include "module.h"
#include "update_reply.h"
#include "code_page.h"
#include "unescape_text.h"
#include "xmlhttp.h"

#define KORVANE_WIDEN2(text) L##text
#define KORVANE_WIDEN(text) KORVANE_WIDEN2(text)

namespace korvane::update {
namespace {

// Holds a reference for the length of a call: a handler that runs nested
// inside a fetch may release the caller's last reference.
class CallGuard {
public:
    explicit CallGuard(IUnknown* object) noexcept : object_(object) { object_->AddRef(); }
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
    ~CallGuard() { object_->Release(); }

private:
    IUnknown* object_;
};

constexpr wchar_t kUpdateAddress[] =
    L"http://" KORVANE_WIDEN(KORVANE_UPDATE_HOST) L"/cgi-bin/custom/output_custom_window.cgi";
constexpr wchar_t kDateAddress[] = L"http://" KORVANE_WIDEN(KORVANE_DATE_HOST) L"/";
constexpr wchar_t kErrorSource[] = L"Quorvel.Detection";
constexpr wchar_t kTypeMismatchText[] = L"类型不匹配";

// wchar_t and char16_t are both UTF-16 code units on Windows.
std::u16string_view AsU16(std::wstring_view text) noexcept {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}
std::wstring_view AsWide(std::u16string_view text) noexcept {
    return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}
std::wstring_view BstrView(BSTR text) noexcept { return {text ? text : L"", SysStringLen(text)}; }

// The text of a fetch result; empty for anything but text.
std::wstring FetchedText(VARIANT fetched) {
    Variant owned(fetched);
    if (owned.get().vt != VT_BSTR) return {};
    return std::wstring(BstrView(owned.get().bstrVal));
}

std::optional<double> ToNumber(std::u16string_view text) {
    std::wstring terminated(AsWide(text));
    double value = 0;
    if (FAILED(VarR8FromStr(terminated.data(), LOCALE_USER_DEFAULT, 0, &value))) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::u16string> Unescape(std::u16string_view text) {
    return http::UnescapeText(text, http::SystemCodePage());
}

std::u16string FetchUpdateReply(std::wstring_view account, std::wstring_view app_name) {
    std::wstring body = L"uin=";
    body += account;
    std::wstring page =
        FetchedText(http::HttpPost(kUpdateAddress, body, http::kResponseDecodedBytes));
    return BuildUpdateReply(AsU16(page), AsU16(app_name), ToNumber, Unescape);
}

std::optional<DATE> FetchNetDate() {
    std::wstring page = FetchedText(http::HttpGet(kDateAddress, http::kResponseDecodedBytes));
    std::u16string date_text = ExtractDateText(AsU16(page));
    if (std::optional<double> date = ParseChineseDate(date_text)) return *date;
    std::wstring terminated(AsWide(date_text));
    DATE date = 0;
    if (FAILED(VarDateFromStr(terminated.data(), LOCALE_USER_DEFAULT, VAR_DATEVALUEONLY, &date))) {
        return std::nullopt;
    }
    return date;
}

// Makes the error description available to the caller through GetErrorInfo.
void SetCallError(const wchar_t* description) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return;
    create->SetGUID(detection::kIid);
    create->SetSource(const_cast<LPOLESTR>(kErrorSource));
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) {
        SetErrorInfo(0, info.get());
    }
}

}  // namespace

HRESULT Detection::Create(REFIID iid, void** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<ITypeLib> type_lib;
    HRESULT hr = LoadModuleTypeLib(type_lib.put());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> type_info;
    hr = type_lib->GetTypeInfoOfGuid(detection::kIid, type_info.put());
    if (FAILED(hr)) return hr;
    auto* detection = new (std::nothrow) Detection(std::move(type_lib), std::move(type_info));
    if (!detection) return E_OUTOFMEMORY;
    hr = detection->QueryInterface(iid, object);
    detection->Release();
    return hr;
}

Detection::Detection(ComPtr<ITypeLib> type_lib, ComPtr<ITypeInfo> type_info) noexcept
    : type_lib_(std::move(type_lib)), type_info_(std::move(type_info)) {
    LockModule();
}

Detection::~Detection() { UnlockModule(); }

STDMETHODIMP Detection::QueryInterface(REFIID iid, void** object) noexcept {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == detection::kIid) {
        *object = static_cast<_Detection*>(this);
    } else if (iid == IID_IProvideClassInfo) {
        *object = static_cast<IProvideClassInfo*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) Detection::AddRef() noexcept { return ++references_; }

STDMETHODIMP_(ULONG) Detection::Release() noexcept {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP Detection::GetTypeInfoCount(UINT* count) noexcept {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP Detection::GetTypeInfo(UINT index, LCID, ITypeInfo** type_info) noexcept {
    if (!type_info) return E_POINTER;
    *type_info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    type_info_->AddRef();
    *type_info = type_info_.get();
    return S_OK;
}

STDMETHODIMP Detection::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                      DISPID* disp_ids) noexcept {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(type_info_.get(), names, count, disp_ids);
}

STDMETHODIMP Detection::Invoke(DISPID disp_id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception,
                               UINT* argument_error) noexcept {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    CallGuard guard(static_cast<_Detection*>(this));
    // A stale error object must not be reported for this call.
    SetErrorInfo(0, nullptr);
    return DispInvoke(static_cast<_Detection*>(this), type_info_.get(), disp_id, flags, params,
                      result, exception, argument_error);
}

STDMETHODIMP Detection::Updates(BSTR MyQQ, BSTR AppName, BSTR* reply) noexcept {
    if (!reply) return E_POINTER;
    *reply = nullptr;
    CallGuard guard(static_cast<_Detection*>(this));
    return CallNoThrow([&] {
        // The caller always gets one of the two reply forms, whatever fails.
        std::wstring_view text = AsWide(kNotFoundReply);
        std::u16string built;
        try {
            built = FetchUpdateReply(BstrView(MyQQ), BstrView(AppName));
            text = AsWide(built);
        } catch (...) {
        }
        *reply = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *reply ? S_OK : E_OUTOFMEMORY;
    });
}

STDMETHODIMP Detection::GetNetDate(DATE* date) noexcept {
    if (!date) return E_POINTER;
    *date = 0;
    CallGuard guard(static_cast<_Detection*>(this));
    return CallNoThrow([&] {
        const std::optional<DATE> fetched = FetchNetDate();
        if (!fetched) {
            SetCallError(kTypeMismatchText);
            return DISP_E_TYPEMISMATCH;
        }
        *date = *fetched;
        return S_OK;
    });
}

STDMETHODIMP Detection::GetClassInfo(ITypeInfo** type_info) noexcept {
    if (!type_info) return E_POINTER;
    *type_info = nullptr;
    return type_lib_->GetTypeInfoOfGuid(detection::kClsid, type_info);
}

STDMETHODIMP Detection::InterfaceSupportsErrorInfo(REFIID iid) noexcept {
    return iid == detection::kIid ? S_OK : S_FALSE;
}

}  // namespace korvane::update
