// Which font a shaped piece is drawn in, when the selected font lacks some
// of its characters: the script's fallback if it covers the piece, else the
// first of a few named faces (linked to the selected one, then those that
// ship with Windows for the script) that covers it, else the first
// installed outline family that does. Installed families are tried at most
// once per script until the next Clear; a face that cannot draw the script
// at all is never tried for it again.
//
// A piece that nothing covers never costs the script its fallback: it is
// drawn in that fallback, or, where the script has none yet, in the face
// that lacks the fewest of its characters if that lacks fewer than the
// selected font (which then becomes the script's fallback), else in the
// selected font.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace korvane {

// An installed font family; `outline` for TrueType and OpenType, false for
// raster and vector fonts, which are never fallbacks.
struct FontFamily {
    std::wstring face;
    bool outline = true;
};

class FallbackChoice {
public:
    // How many characters of the piece `face` lacks (0: it covers the
    // piece), or nothing when it cannot draw the piece's script at all (not
    // an outline font, not created as that face, not shaped, or shaped
    // without glyph indices). The empty face is the selected font.
    using Missing = std::function<std::optional<std::size_t>(const std::wstring& face)>;
    using Families = std::function<const std::vector<FontFamily>&()>;

    // The face that a piece of `script` is drawn in; empty for the
    // selected font. `named` are tried in order, `installed` only while
    // the script's scan has not run.
    std::wstring Choose(int script, const std::vector<std::wstring>& named,
                        const Families& installed, const Missing& missing);
    // The face each script is drawn in beside the selected font.
    std::vector<std::wstring> Fallbacks() const;
    void Clear() { scripts_.clear(); }

private:
    struct Script {
        std::optional<std::wstring> fallback;
        bool scanned = false;
        std::set<std::wstring> useless;
    };
    std::map<int, Script> scripts_;
};

}  // namespace korvane
