#include "strip_buffer.h"

namespace korvane {

bool StripBuffer::Ensure(HDC reference, SIZE size) {
    if (Fits(size)) return true;
    dc_.reset();  // the old bitmap may be freed only once no DC selects it
    bitmap_.reset(CreateCompatibleBitmap(reference, size.cx, size.cy));
    dc_.reset(CreateCompatibleDC(reference));
    if (!dc_ || !bitmap_) {
        dc_.reset();
        return false;
    }
    // The DC keeps its bitmap selected for its whole life.
    SelectObject(dc_.get(), bitmap_.get());
    size_ = size;
    return true;
}

void StripBuffer::CopyTo(HDC target, const RECT& area) const {
    BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, dc_.get(),
           area.left, area.top, SRCCOPY);
}

void StripBuffer::ScrollLeft(const RECT& area, int step) {
    HDC dc = dc_.get();
    BitBlt(dc, area.left, area.top, area.right - area.left - step, area.bottom - area.top, dc,
           area.left + step, area.top, SRCCOPY);
}

}  // namespace korvane
