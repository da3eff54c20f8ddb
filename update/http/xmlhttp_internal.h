#pragma once
// HttpGet and HttpPost with the time limit as a parameter, so that tests can
// reach the time-out without waiting for kFetchTimeoutMs.

#include "xmlhttp.h"

namespace korvane::http::internal {

// What wakes the wait: every kind of input, named one by one. Headers for
// Windows 8 and later add QS_TOUCH and QS_POINTER to QS_ALLINPUT, bits that
// MsgWaitForMultipleObjectsEx rejects before Windows 8.
inline constexpr DWORD kWaitWakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_RAWINPUT |
                                       QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_SENDMESSAGE |
                                       QS_HOTKEY;

// method is "get" or "POST"; body is sent only when not null.
VARIANT Fetch(const wchar_t* method, const std::wstring& address, const std::wstring* body,
              int response_mode, DWORD timeout_ms) noexcept;

}  // namespace korvane::http::internal
