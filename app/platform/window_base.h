// One static window procedure for every window of the program: it stores
// the object pointer at WM_NCCREATE (or when a control is subclassed) and
// forwards to the object, inside the one exception boundary.
#pragma once

#include <windows.h>

#include "program_end.h"

namespace korvane {

// Ends the program after telling the user, as for any error a handler
// does not handle itself. Never returns.
[[noreturn]] inline void FailFatally(const wchar_t* what) {
    MessageBoxW(nullptr, what, L"Korvane", MB_ICONSTOP | MB_OK | MB_TASKMODAL);
    EndProgram(1);
}

class WindowBase {
public:
    WindowBase() = default;
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;
    virtual ~WindowBase() = default;

    HWND hwnd() const { return hwnd_; }

protected:
    // Handles one message; the default is the subclassed control's own
    // procedure, or DefWindowProcW for a window of the program's classes.
    virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
        if (control_proc_) return CallWindowProcW(control_proc_, hwnd_, message, wparam, lparam);
        return DefWindowProcW(hwnd_, message, wparam, lparam);
    }

    // Registers (once) a class that uses the thunk below.
    static void RegisterClassOnce(const wchar_t* class_name, HICON icon = nullptr,
                                  UINT class_style = 0) {
        WNDCLASSEXW wc{};
        HINSTANCE instance = GetModuleHandleW(nullptr);
        if (GetClassInfoExW(instance, class_name, &wc)) return;
        wc = {};
        wc.cbSize = sizeof wc;
        wc.style = class_style;
        wc.lpfnWndProc = &WindowBase::Thunk;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hIcon = icon;
        wc.lpszClassName = class_name;
        RegisterClassExW(&wc);
    }

    // What CreateWindowFor makes: sizes and positions in pixels.
    struct CreateArgs {
        const wchar_t* class_name = nullptr;
        const wchar_t* title = L"";
        DWORD style = 0;
        DWORD ex_style = 0;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        HWND parent = nullptr;
        int id = 0;  // a child window's control id
    };

    // Creates the window with this object as its handler.
    HWND CreateWindowFor(const CreateArgs& args) {
        return CreateWindowExW(args.ex_style, args.class_name, args.title, args.style, args.x,
                               args.y, args.width, args.height, args.parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)),
                               GetModuleHandleW(nullptr), this);
    }

    // Sends the messages of a control made from a system class (an edit
    // control, say) through the thunk to this object, from now until its
    // WM_NCDESTROY; what HandleMessage passes on reaches the control.
    void SubclassControl(HWND control) {
        hwnd_ = control;
        SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        control_proc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Thunk)));
    }

private:
    static LRESULT CALLBACK Thunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        WindowBase* self = nullptr;
        if (message == WM_NCCREATE) {
            self =
                static_cast<WindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        } else {
            self = reinterpret_cast<WindowBase*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        }
        if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
        try {
            LRESULT result = self->HandleMessage(message, wparam, lparam);
            if (message == WM_NCDESTROY) self->Detach();
            return result;
        } catch (...) {
            FailFatally(L"程序遇到意外错误,即将退出。");
        }
    }

    // The window is gone: forget it, and hand a subclassed control back to
    // its own procedure.
    void Detach() {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        if (control_proc_) {
            SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control_proc_));
            control_proc_ = nullptr;
        }
        hwnd_ = nullptr;
    }

    HWND hwnd_ = nullptr;
    WNDPROC control_proc_ = nullptr;  // a subclassed control's own procedure
};

}  // namespace korvane
