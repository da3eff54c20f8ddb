// The icon in the notification area: a way to the panel, Play and Pause
// from the keyboard, where the strip answers only the mouse. A hidden
// window of its own owns the icon and its menu.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "window_base.h"

namespace korvane {

class Form1;
class Form2;

class NotifyIconWindow final : public WindowBase {
public:
    // The strip and the panel must outlive this window. Nothing is created yet.
    NotifyIconWindow(Form1& strip, Form2& panel);

    // Creates the hidden window and adds the icon, which is removed again
    // when the program ends.
    void Create();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    NOTIFYICONDATAW IconData(UINT flags) const;
    void Add();
    void Remove();
    void UpdateTip();
    void ShowMenu(POINT at);
    void OnCommand(int id);

    Form1& strip_;
    Form2& panel_;
    UINT taskbar_created_ = 0;
    bool added_ = false;
    bool menu_open_ = false;
};

}  // namespace korvane
