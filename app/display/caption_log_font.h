// The Windows font that a caption font (caption_font.h) stands for.
#pragma once

#include <windows.h>

#include "caption_font.h"

namespace korvane {

// The LOGFONT of a caption font at a DPI.
LOGFONTW CaptionLogFont(const CaptionFont& font, unsigned dpi);

}  // namespace korvane
