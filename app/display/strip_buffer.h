// The strip's off-screen buffer: a bitmap of the window's client size,
// selected into a memory DC for the DC's whole life. The whole surface is
// drawn here, then copied to the window.
#pragma once

#include <windows.h>

#include "win_handles.h"

namespace korvane {

class StripBuffer {
public:
    // Whether the buffer exists and is `size` large.
    bool Fits(SIZE size) const { return dc_ && size_.cx == size.cx && size_.cy == size.cy; }
    // Makes the buffer `size` large, compatible with `reference`, unless it
    // already is. False when it cannot be made; the buffer is then empty.
    bool Ensure(HDC reference, SIZE size);
    HDC dc() const { return dc_.get(); }
    SIZE size() const { return size_; }
    // Copies `area` of the buffer to the same place in `target`.
    void CopyTo(HDC target, const RECT& area) const;
    // Moves `area`'s picture `step` pixels left within the area; the `step`
    // columns at its right end keep what they held, to be drawn anew.
    void ScrollLeft(const RECT& area, int step);

private:
    // The bitmap is declared first so that it outlives the DC that selects it.
    UniqueBitmap bitmap_;
    UniqueMemoryDc dc_;
    SIZE size_{};
};

}  // namespace korvane
