#include "caption_log_font.h"

#include "dpi.h"

namespace korvane {

LOGFONTW CaptionLogFont(const CaptionFont& font, unsigned dpi) {
    LOGFONTW lf{};
    lf.lfHeight = FontHeightForPoints(font.points, dpi);
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = font.italic;
    lf.lfUnderline = font.underline;
    lf.lfStrikeOut = font.strikethrough;
    lf.lfCharSet = font.charset;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    lstrcpynW(lf.lfFaceName, font.name.c_str(), LF_FACESIZE);
    return lf;
}

}  // namespace korvane
