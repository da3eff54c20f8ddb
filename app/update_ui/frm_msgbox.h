// FrmMsgbox: the small notification window of the update check. A message
// (Label1), one button (Command1) and an optional download address kept in
// Label1's Tag. It stays on top and never takes the focus when it appears.
#pragma once

#include <windows.h>

#include <string>

#include "win_handles.h"
#include "window_base.h"

namespace korvane {

class FrmMsgbox final : public WindowBase {
public:
    // The one shared dialog. It is loaded by the first use of any member
    // below and unloaded when it is closed; the next use loads a fresh one
    // with the designed captions and an empty Tag.
    static FrmMsgbox& Instance();

    bool IsLoaded() const { return hwnd() != nullptr; }

    std::wstring Caption();
    void SetCaption(const std::wstring& text);
    std::wstring Label1Caption();
    void SetLabel1Caption(const std::wstring& text);
    const std::wstring& Label1Tag();
    void SetLabel1Tag(const std::wstring& text);
    std::wstring Command1Caption();
    void SetCommand1Caption(const std::wstring& text);

    // Shows the dialog modeless, without activating it.
    void Show();
    // Closes the dialog; it is unloaded entirely.
    void Unload();

    // The button: opens the address in Tag, if any, then closes the dialog.
    void Command1_Click();

    // Command1's rectangle on the screen.
    RECT Command1ScreenRect();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    FrmMsgbox() = default;

    void EnsureLoaded();
    void Form_Load();
    void ApplyLayout();
    void OnDpiChanged(unsigned dpi, const RECT& suggested);

    unsigned dpi_ = 96;
    HWND label1_ = nullptr;  // child windows, destroyed with the dialog
    HWND command1_ = nullptr;
    std::wstring tag_;
    UniqueFont font_;
};

}  // namespace korvane
