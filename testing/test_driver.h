// What the Windows test programs share: UTF-8 output that a reader sees at
// once, a command line of the form PROGRAM COMMAND ARGS..., windows of their
// own with a message loop, functions looked up by name, a file held open.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace korvane::testing {

inline std::string Utf8(std::wstring_view text) {
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Writes text as UTF-8 straight to a standard handle, unbuffered and byte for
// byte: a reader sees it at once, whatever the console's code page.
inline void Print(std::wstring_view text, DWORD handle = STD_OUTPUT_HANDLE) {
    const std::string bytes = Utf8(text);
    DWORD written = 0;
    WriteFile(GetStdHandle(handle), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

inline void PrintLine(std::wstring_view text) { Print(std::wstring(text) + L'\n'); }

// Prints a command's last line and returns its exit status.
inline int PrintLineAndReturn(std::wstring_view text, int status) {
    PrintLine(text);
    return status;
}

inline std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// A function that a module exports, as an Fn; nullptr when either is missing.
template <class Fn>
Fn Export(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
}

// The arguments after the command's name; a missing one reads as nullptr.
struct Args {
    int count;
    wchar_t** values;
    const wchar_t* operator[](int i) const { return i < count ? values[i] : nullptr; }
    int Int(int i) const { return i < count ? _wtoi(values[i]) : 0; }
};

struct Command {
    std::wstring_view name;
    int min_args;
    int max_args;
    std::function<int(const Args&)> run;
};

// Runs the command that argv[1] names with the arguments after it (a command
// with an empty name, listed last, takes every argument); else prints the
// commands to standard error and returns 2.
inline int RunCommand(int argc, wchar_t** argv, std::initializer_list<Command> commands) {
    std::wstring names;
    for (const Command& command : commands) {
        const bool unnamed = command.name.empty();
        const Args args = unnamed ? Args{argc - 1, argv + 1} : Args{argc - 2, argv + 2};
        if ((unnamed || (argc >= 2 && argv[1] == command.name)) && args.count >= command.min_args &&
            args.count <= command.max_args)
            return command.run(args);
        names += (names.empty() ? L"" : L"|") + std::wstring(unnamed ? L"ARGS" : command.name);
    }
    Print(L"usage: " + std::wstring(argc > 0 ? argv[0] : L"") + L" " + names + L" ...\n",
          STD_ERROR_HANDLE);
    return 2;
}

// A window of a class of its own (registered on first use), titled with the
// class's name; HWND_MESSAGE as the parent makes a message-only window.
inline HWND NewWindow(const wchar_t* class_name, WNDPROC procedure, DWORD style, DWORD ex_style = 0,
                      RECT rect = {}, HWND parent = nullptr, HBRUSH background = nullptr) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hbrBackground = background;
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);
    return CreateWindowExW(ex_style, class_name, class_name, style, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                           window_class.hInstance, nullptr);
}

// Dispatches the thread's messages until WM_QUIT; its exit code.
inline int RunMessageLoop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

// Holds an existing file open with the given access and sharing, as another
// program would: prints "held" once it is open, keeps it until stdin closes.
inline int HoldFile(const wchar_t* path, DWORD access, DWORD share) {
    const HANDLE file =
        CreateFileW(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Print(L"CreateFileW: error " + std::to_wstring(GetLastError()) + L"\n", STD_ERROR_HANDLE);
        return 1;
    }
    PrintLine(L"held");
    while (std::getchar() != EOF) {
    }
    CloseHandle(file);
    return 0;
}

}  // namespace korvane::testing
