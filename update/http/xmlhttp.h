#pragma once
// Page fetches through the platform's "Microsoft.XMLHTTP" object. The calling
// thread keeps dispatching its window messages while it waits.

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace korvane::http {

// A fetch that has not completed by then is aborted and yields empty text.
// (Wine's request object never completes a transfer that failed, e.g. with
// the server down, so there a failed fetch takes this long.)
inline constexpr DWORD kFetchTimeoutMs = 30000;

enum ResponseMode : int {
    kResponseText = 1,          // the object's own "ResponseText"
    kResponseBytes = 2,         // the raw "ResponseBody" (VT_ARRAY | VT_UI1)
    kResponseDecodedBytes = 3,  // the raw bytes through BytesToText
};

// The result is VT_BSTR, or VT_ARRAY | VT_UI1 for mode 2; any failure, and any
// other mode, gives an empty VT_BSTR. The caller clears it. Never throws.
// The HTTP status is not examined: an error page's body is a result too.
// While waiting, the calling thread's window messages are dispatched, so
// handlers (and nested fetches) run inside the call; a WM_QUIT ends the wait
// with empty text and is posted again for the thread's own loop. Each message
// goes to CallMsgFilterW (detection::kWaitMessageFilter) before it is
// dispatched. Mouse input stays queued while a move loop or the capture that
// was there when the wait began still owns it.
// HttpPost sends "Content-Length" and "CONTENT-TYPE:
// application/x-www-form-urlencoded" and the body as given, not encoded.
VARIANT HttpGet(const std::wstring& address, int response_mode) noexcept;
VARIANT HttpPost(const std::wstring& address, const std::wstring& body, int response_mode) noexcept;

}  // namespace korvane::http
