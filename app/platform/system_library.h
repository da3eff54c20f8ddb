// DLLs that the program loads itself come from the system folder only, never
// from the folder the program starts from or the one it runs from.
#pragma once

#include <windows.h>

#include <string>

namespace korvane {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// Loads `name` (a file name such as L"oleacc.dll") from the system folder;
// null when it cannot. Windows 7 without KB2533623 refuses the search flag;
// the full path does the same there.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return LoadLibraryW(path.c_str());
}

}  // namespace korvane
