#pragma once
// The exception boundary of the library: no C++ exception may cross an
// export or a COM method into its caller, so one that reaches them becomes
// an HRESULT.

#include <windows.h>

#include <new>

namespace korvane::update {

// Runs `body`, which returns an HRESULT; std::bad_alloc becomes
// E_OUTOFMEMORY and any other exception E_UNEXPECTED.
template <class Body>
HRESULT CallNoThrow(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace korvane::update
