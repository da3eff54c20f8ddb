#pragma once
// Page fetches through the platform's "Microsoft.XMLHTTP" object. The calling
// thread keeps dispatching its window messages while it waits.

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace korvane::http {

// A fetch that has not completed by then is aborted and yields empty text.
inline constexpr DWORD kFetchTimeoutMs = 30000;

enum ResponseMode : int {
    kResponseText = 1,         // the object's own "ResponseText"
    kResponseBytes = 2,        // the raw "ResponseBody" (VT_ARRAY | VT_UI1)
    kResponseDecodedBytes = 3, // the raw bytes through BytesToText
};

// The result is VT_BSTR, or VT_ARRAY | VT_UI1 for mode 2; any failure, and any
// other mode, gives an empty VT_BSTR. The caller clears it. Never throws.
VARIANT HttpGet(const std::wstring& address, int responseMode) noexcept;
VARIANT HttpPost(const std::wstring& address, const std::wstring& body,
                 int responseMode) noexcept;

}  // namespace korvane::http
