// The request that ends a running Korvane from outside: the installer and the
// uninstaller find the strip by its window class "KorvaneStrip" and post this
// registered message to it before they replace or remove the files.
#pragma once

#include <windows.h>

namespace korvane {

inline constexpr wchar_t kEndRequestMessageName[] = L"KorvaneEndRequest";

inline UINT EndRequestMessage() {
    static const UINT message = RegisterWindowMessageW(kEndRequestMessageName);
    return message;
}

}  // namespace korvane
