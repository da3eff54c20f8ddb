// The fonts a caption's shaped lines are drawn in: the one selected into
// the DC and the fallbacks that Windows' own text drawing would take where
// it lacks a piece's script or characters (fallback_choice.h), found by the
// faces linked to the selected one (FontLink\SystemLink, under each of its
// names), the faces that ship with Windows for the script, and the
// installed outline families.
//
// Each fallback is created once per change of text or font at the selected
// font's height, smaller where its ascent or descent would reach past the
// selected font's, so that drawn on the selected font's baseline it stays
// within the line; a font tried and not chosen is released at once, with
// its script cache.
#pragma once

#include <windows.h>
#include <usp10.h>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fallback_choice.h"
#include "win_handles.h"

namespace korvane {

// Uniscribe's properties of an item's script (none for a script it does not
// list).
inline const SCRIPT_PROPERTIES& PropertiesOf(const SCRIPT_ANALYSIS& analysis) {
    static const SCRIPT_PROPERTIES kNone{};
    const SCRIPT_PROPERTIES** all = nullptr;
    int count = 0;
    if (ScriptGetProperties(&all, &count) != S_OK || analysis.eScript >= count) return kNone;
    return *all[analysis.eScript];
}

class FallbackFonts {
public:
    struct Font {
        Font() = default;
        Font(const Font&) = delete;
        Font& operator=(const Font&) = delete;
        ~Font();  // frees the script cache
        std::wstring face;
        BYTE charset = DEFAULT_CHARSET;
        UniqueFont handle;  // null for the selected font, which the caller owns
        mutable SCRIPT_CACHE cache = nullptr;
        WORD default_glyph = 0;
        bool usable = false;  // an outline font with glyph tables
        int ascent = 0;
        int descent = 0;
    };
    // The glyphs of one shaping.
    struct Shaping {
        HRESULT result = E_FAIL;
        std::vector<WORD> glyphs;
        std::vector<WORD> clusters;
        std::vector<SCRIPT_VISATTR> attributes;
        SCRIPT_ANALYSIS analysis{};
    };

    FallbackFonts() = default;
    FallbackFonts(const FallbackFonts&) = delete;
    FallbackFonts& operator=(const FallbackFonts&) = delete;
    ~FallbackFonts() { Clear(); }

    // Forgets every font; those that follow are made like `selected_font`.
    void Reset(const LOGFONTW& selected_font);
    void Clear();
    // Reads the selected font, selected into `dc`, once per Reset.
    void Begin(HDC dc);
    bool Begun() const { return !fonts_.empty(); }

    // Shapes `piece` in the font chosen for it and gives that font's index.
    std::size_t ShapeInChosen(HDC dc, std::wstring_view piece, const SCRIPT_ANALYSIS& analysis,
                              Shaping& shaping);
    Shaping ShapeIn(HDC dc, const Font& font, std::wstring_view piece,
                    const SCRIPT_ANALYSIS& analysis) const;

    const Font& At(std::size_t font) const { return *fonts_[font]; }
    const Font& Selected() const { return *fonts_[0]; }
    std::vector<std::wstring> FallbackFaces() const { return choice_.Fallbacks(); }

private:
    static std::size_t Visible(std::wstring_view piece);
    std::optional<std::size_t> Missing(const Font& font, bool selected, std::wstring_view piece,
                                       const Shaping& shaping) const;
    std::unique_ptr<Font> Create(HDC dc, const std::wstring& face, BYTE charset) const;

    LOGFONTW selected_font_{};
    std::vector<std::unique_ptr<Font>> fonts_;  // 0: the selected font
    FallbackChoice choice_;
    std::vector<std::wstring> selected_names_;  // the selected face's localized and English names
    std::optional<std::vector<std::wstring>> linked_faces_;
    std::map<WORD, std::vector<std::wstring>> named_faces_;  // linked, then shipped, by language
    std::optional<std::vector<FontFamily>> installed_families_;
};

}  // namespace korvane
