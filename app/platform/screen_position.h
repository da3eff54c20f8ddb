// Moving a top-level window to a screen position given in twips.
#pragma once

#include <windows.h>

#include "dpi.h"

namespace korvane {

enum class ScreenEdge { kLeft, kTop };

// Moves the window's left or top edge to `twips` (screen twips, dpi.h's
// Screen mapping); the other edge, the size and the z-order stay.
inline void MoveToScreenTwips(HWND hwnd, ScreenEdge edge, float twips) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    const int pixels = Screen().ToPixels(twips);
    SetWindowPos(hwnd, nullptr, edge == ScreenEdge::kLeft ? pixels : rect.left,
                 edge == ScreenEdge::kTop ? pixels : rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace korvane
