#include "xmlhttp.h"

#include <msxml2.h>
#include <objbase.h>

#include <algorithm>
#include <new>
#include <span>
#include <string>

#include "bytes_to_text.h"
#include "code_page.h"
#include "detection_contract.h"
#include "win_handles.h"
#include "xmlhttp_internal.h"

namespace korvane::http {

namespace {

// MinGW's import libraries lack IID_IXMLHTTPRequest.
constexpr IID kIidXmlHttpRequest = {
    0xED8C108D, 0x4349, 0x11D2, {0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8}};

constexpr LONG kReadyStateComplete = 4;
// Upper bound of one blocking wait, in case a state change is not signalled.
constexpr DWORD kMaxSleepMs = 100;

// The request's onreadystatechange handler: sets an event, which wakes the
// wait at once instead of at its next poll.
class ReadyStateSink final : public IDispatch {
public:
    explicit ReadyStateSink(HANDLE event) : event_(event) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (result) VariantInit(result);
        SetEvent(event_.get());
        return S_OK;
    }

private:
    ~ReadyStateSink() = default;
    LONG refs_ = 1;
    UniqueKernelHandle event_;
};

VARIANT EmptyText() noexcept {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"");
    return text;
}

VARIANT Text(const wchar_t* chars, std::size_t length) {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringLen(chars, static_cast<UINT>(length));
    if (!text.bstrVal) return EmptyText();
    return text;
}

// A missing optional argument, as automation passes it.
VARIANT MissingArgument() {
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    return missing;
}

bool IsByteArray(const VARIANT& value) {
    return value.vt == (VT_ARRAY | VT_UI1) && value.parray && SafeArrayGetDim(value.parray) == 1;
}

// Longest run of dispatching between two tests of the ready state and the
// deadline: a handler slower than its own timer keeps a WM_TIMER pending for
// ever, so the queue may never run empty.
constexpr DWORD kDispatchSliceMs = 50;

// The mouse belongs to a loop outside the wait when the wait begins inside
// the system's move or size loop or while a window holds the capture: that
// loop ends on the button release, so the wait leaves mouse input queued for
// it as long as that state lasts.
class OutsideMouseOwner {
public:
    OutsideMouseOwner() {
        const GUITHREADINFO info = Current();
        capture_ = info.hwndCapture;
        move_size_ = (info.flags & GUI_INMOVESIZE) != 0;
    }
    bool Holds() const {
        if (!capture_ && !move_size_) return false;
        const GUITHREADINFO info = Current();
        return (move_size_ && (info.flags & GUI_INMOVESIZE)) ||
               (capture_ && info.hwndCapture == capture_);
    }

private:
    static GUITHREADINFO Current() {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetCurrentThreadId(), &info)) info = {};
        return info;
    }
    HWND capture_ = nullptr;
    bool move_size_ = false;
};

// The next queued message, leaving the mouse's (client and non-client) in
// the queue when leave_mouse is set.
bool NextMessage(MSG& message, bool leave_mouse) {
    if (!leave_mouse) return PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE;
    constexpr UINT kRanges[][2] = {{0, WM_NCMOUSEMOVE - 1},
                                   {WM_NCXBUTTONDBLCLK + 1, WM_MOUSEFIRST - 1},
                                   {WM_MOUSELAST + 1, 0xFFFFFFFF}};
    for (const auto& range : kRanges) {
        if (PeekMessageW(&message, nullptr, range[0], range[1], PM_REMOVE)) return true;
    }
    return false;
}

// One pass over the queue: dispatches for at most kDispatchSliceMs. Each
// message goes to the thread's WH_MSGFILTER hooks first, which may handle it
// (dialog keys of a modeless dialog). False on WM_QUIT.
bool DispatchPass(bool leave_mouse) {
    const ULONGLONG slice_end = GetTickCount64() + kDispatchSliceMs;
    MSG message;
    while (NextMessage(message, leave_mouse)) {
        if (message.message == WM_QUIT) {
            // Leave it for the thread's own message loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        if (!CallMsgFilterW(&message, detection::kWaitMessageFilter)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (GetTickCount64() >= slice_end) break;
    }
    return true;
}

// Waits until the request completes, dispatching the thread's window
// messages meanwhile; handlers may start nested fetches. Blocks between
// tests of the ready state. False on time-out, failure or WM_QUIT.
bool WaitForCompletion(IXMLHTTPRequest& request, HANDLE wake, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    const OutsideMouseOwner mouse_owner;
    for (;;) {
        LONG state = 0;
        if (FAILED(request.get_readyState(&state))) return false;
        if (state == kReadyStateComplete) return true;

        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        const bool leave_mouse = mouse_owner.Holds();
        const DWORD sleep_ms = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kMaxSleepMs));
        const DWORD wake_mask =
            leave_mouse ? internal::kWaitWakeMask & ~QS_MOUSE : internal::kWaitWakeMask;
        if (MsgWaitForMultipleObjectsEx(1, &wake, sleep_ms, wake_mask, MWMO_INPUTAVAILABLE) ==
            WAIT_FAILED) {
            return false;
        }
        if (!DispatchPass(leave_mouse)) return false;
    }
}

VARIANT DecodedBody(IXMLHTTPRequest& request) {
    Variant body;
    if (FAILED(request.get_responseBody(body.put())) || !IsByteArray(body.get()))
        return EmptyText();

    SAFEARRAY* array = body.get().parray;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper))) {
        return EmptyText();
    }
    const std::size_t size = upper >= lower ? static_cast<std::size_t>(upper - lower) + 1 : 0;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return EmptyText();
    std::optional<std::u16string> text;
    try {
        text = BytesToText({static_cast<const std::uint8_t*>(data), size}, SystemCodePage());
    } catch (...) {
        SafeArrayUnaccessData(array);
        throw;
    }
    SafeArrayUnaccessData(array);
    if (!text) return EmptyText();
    return Text(reinterpret_cast<const wchar_t*>(text->data()), text->size());
}

VARIANT Result(IXMLHTTPRequest& request, int response_mode) {
    switch (response_mode) {
        case kResponseText: {
            BSTR text = nullptr;
            if (FAILED(request.get_responseText(&text))) return EmptyText();
            VARIANT result;
            VariantInit(&result);
            result.vt = VT_BSTR;
            result.bstrVal = text ? text : SysAllocString(L"");
            return result;
        }
        case kResponseBytes: {
            Variant body;
            if (FAILED(request.get_responseBody(body.put())) || !IsByteArray(body.get())) {
                return EmptyText();
            }
            return body.detach();
        }
        case kResponseDecodedBytes:
            return DecodedBody(request);
        default:
            return EmptyText();
    }
}

// The body's length in the bytes the request object sends: it sends text as
// UTF-8 (Wine: ASCII as is), which for ASCII is one byte a character.
std::size_t SentLength(const std::wstring& body) {
    if (body.empty()) return 0;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, body.data(), static_cast<int>(body.size()),
                                          nullptr, 0, nullptr, nullptr);
    return bytes > 0 ? static_cast<std::size_t>(bytes) : body.size();
}

VARIANT FetchOrThrow(const wchar_t* method, const std::wstring& address, const std::wstring* body,
                     int response_mode, DWORD timeout_ms) {
    // Joins a single-threaded apartment for the call when the thread has none;
    // a thread already in an apartment keeps it.
    ComApartment apartment;

    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"Microsoft.XMLHTTP", &clsid))) return EmptyText();
    ComPtr<IXMLHTTPRequest> request;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlHttpRequest,
                                request.put_void()))) {
        return EmptyText();
    }

    HANDLE wake_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!wake_event) return EmptyText();
    auto sink = ComPtr<ReadyStateSink>::attach(new (std::nothrow) ReadyStateSink(wake_event));
    if (!sink) {
        CloseHandle(wake_event);
        return EmptyText();
    }
    // Without the handler the wait still polls every kMaxSleepMs.
    const bool sink_attached = SUCCEEDED(request->put_onreadystatechange(sink.get()));

    Bstr method_text{std::wstring_view(method)};
    Bstr url(address);
    if (!method_text.get() || !url.get()) return EmptyText();
    VARIANT async;
    VariantInit(&async);
    async.vt = VT_BOOL;
    async.boolVal = VARIANT_TRUE;

    bool completed = false;
    if (SUCCEEDED(request->open(method_text.get(), url.get(), async, MissingArgument(),
                                MissingArgument()))) {
        bool sent = false;
        if (body) {
            Bstr length_name(L"Content-Length");
            Bstr length(std::to_wstring(SentLength(*body)));
            Bstr type_name(L"CONTENT-TYPE");
            Bstr type(L"application/x-www-form-urlencoded");
            Variant content;
            content.put()->vt = VT_BSTR;
            content.get().bstrVal =
                SysAllocStringLen(body->data(), static_cast<UINT>(body->size()));
            sent = length_name.get() && length.get() && type_name.get() && type.get() &&
                   content.get().bstrVal &&
                   SUCCEEDED(request->setRequestHeader(length_name.get(), length.get())) &&
                   SUCCEEDED(request->setRequestHeader(type_name.get(), type.get())) &&
                   SUCCEEDED(request->send(content.get()));
        } else {
            sent = SUCCEEDED(request->send(MissingArgument()));
        }
        completed = sent && WaitForCompletion(*request.get(), wake_event, timeout_ms);
        if (!completed) request->abort();
    }

    VARIANT result = completed ? Result(*request.get(), response_mode) : EmptyText();
    if (sink_attached) request->put_onreadystatechange(nullptr);
    return result;
}

}  // namespace

namespace internal {

VARIANT Fetch(const wchar_t* method, const std::wstring& address, const std::wstring* body,
              int response_mode, DWORD timeout_ms) noexcept {
    try {
        return FetchOrThrow(method, address, body, response_mode, timeout_ms);
    } catch (...) {
        return EmptyText();
    }
}

}  // namespace internal

VARIANT HttpGet(const std::wstring& address, int response_mode) noexcept {
    return internal::Fetch(L"get", address, nullptr, response_mode, kFetchTimeoutMs);
}

VARIANT HttpPost(const std::wstring& address, const std::wstring& body,
                 int response_mode) noexcept {
    return internal::Fetch(L"POST", address, &body, response_mode, kFetchTimeoutMs);
}

}  // namespace korvane::http
