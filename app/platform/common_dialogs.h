// The common dialogs, each returning nothing when the user cancels, so a
// cancel cannot change state by accident.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace korvane {

// Colour dialog opened on `initial`.
std::optional<COLORREF> ChooseColourDialog(HWND owner, COLORREF initial);

struct FontChoice {
    LOGFONTW font;  // face, weight, italic, underline, charset
    float points;   // the size the user picked
};
// Font dialog listing the screen fonts, opened on `initial`, a LOGFONT made
// at `dpi`.
std::optional<FontChoice> ChooseFontDialog(HWND owner, const LOGFONTW& initial, unsigned dpi);

// Open-file dialog; `filter` uses the "name|pattern" form, e.g.
// "txt file(*.txt)|*.txt". Returns the chosen path.
std::optional<std::wstring> OpenFileDialog(HWND owner, const std::wstring& filter);

}  // namespace korvane
