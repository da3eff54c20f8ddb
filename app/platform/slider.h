// A horizontal slider (the common controls' trackbar) with a tick at every
// value. Its parent receives WM_HSCROLL when the user moves it.
#pragma once

#include <windows.h>

namespace korvane {

class Slider {
public:
    struct CreateArgs {
        HWND parent = nullptr;
        int id = 0;
        int min = 0;
        int max = 100;
        int value = 0;
        int line_size = 1;  // arrow keys
        int page_size = 5;  // Page Up and Page Down, a click beside the thumb
    };

    // False when the window cannot be created.
    bool Create(const CreateArgs& args);
    HWND hwnd() const { return hwnd_; }
    int Value() const;
    void SetValue(int value);
    // The thumb's length in pixels; a shorter thumb leaves room for the ticks.
    void SetThumbLength(int pixels);

private:
    HWND hwnd_ = nullptr;  // a child window, destroyed with its parent
};

}  // namespace korvane
