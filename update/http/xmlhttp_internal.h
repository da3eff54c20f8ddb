#pragma once
// HttpGet and HttpPost with the time limit as a parameter, so that tests can
// reach the time-out without waiting for kFetchTimeoutMs.

#include "xmlhttp.h"

namespace korvane::http::internal {

// method is "get" or "POST"; body is sent only when not null.
VARIANT Fetch(const wchar_t* method, const std::wstring& address, const std::wstring* body,
              int responseMode, DWORD timeoutMs) noexcept;

}  // namespace korvane::http::internal
