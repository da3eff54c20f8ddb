// The request that ends a running Korvane from outside: the installer and the
// uninstaller find the strip by its window class "KorvaneStrip" and post this
// registered message to it before they replace or remove the files.
#pragma once

namespace korvane {

inline constexpr wchar_t kEndRequestMessageName[] = L"KorvaneEndRequest";

// RegisterWindowMessageW hands out 0xC000 to 0xFFFF, and 0 when it fails:
// then nothing is the end request, least of all WM_NULL, which other programs
// send to see whether a window responds.
constexpr bool IsEndRequest(unsigned message, unsigned registered) {
    return registered >= 0xC000 && registered <= 0xFFFF && message == registered;
}

}  // namespace korvane

#ifdef _WIN32
#include <windows.h>

namespace korvane {

inline UINT EndRequestMessage() {
    static const UINT message = RegisterWindowMessageW(kEndRequestMessageName);
    return message;
}

}  // namespace korvane
#endif
