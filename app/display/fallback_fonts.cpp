#include "fallback_fonts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "char_ranges.h"
#include "font_sources.h"
#include "utf16.h"

namespace korvane {

void FallbackFonts::Reset(const LOGFONTW& selected_font) {
    Clear();
    selected_font_ = selected_font;
}

void FallbackFonts::Clear() {
    fonts_.clear();
    choice_.Clear();
    selected_names_.clear();
    linked_faces_.reset();
    named_faces_.clear();
    installed_families_.reset();
}

FallbackFonts::Font::~Font() {
    if (cache) ScriptFreeCache(&cache);
}

void FallbackFonts::Begin(HDC dc) {
    auto selected = std::make_unique<Font>();
    selected->face = selected_font_.lfFaceName;
    selected->usable = true;
    SCRIPT_FONTPROPERTIES properties{};
    properties.cBytes = sizeof(properties);
    if (ScriptGetFontProperties(dc, &selected->cache, &properties) == S_OK) {
        selected->default_glyph = properties.wgDefault;
    }
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    selected->ascent = metrics.tmAscent;
    selected->descent = metrics.tmDescent;
    fonts_.push_back(std::move(selected));
    selected_names_ = {selected_font_.lfFaceName};
    const std::wstring english = EnglishFamilyNameOf(dc);
    if (!english.empty() && english != selected_names_[0]) selected_names_.push_back(english);
}

FallbackFonts::Shaping FallbackFonts::ShapeIn(HDC dc, const Font& font, std::wstring_view piece,
                                              const SCRIPT_ANALYSIS& analysis) const {
    Shaping shaping;
    shaping.analysis = analysis;
    if (!font.usable) return shaping;
    const HGDIOBJ previous = font.handle ? SelectObject(dc, font.handle.get()) : nullptr;
    const int count = static_cast<int>(piece.size());
    std::size_t room = piece.size() * 3 / 2 + 16;
    shaping.clusters.resize(piece.size());
    int glyph_count = 0;
    for (;;) {
        shaping.glyphs.resize(room);
        shaping.attributes.resize(room);
        shaping.result =
            ScriptShape(dc, &font.cache, piece.data(), count, static_cast<int>(room),
                        &shaping.analysis, shaping.glyphs.data(), shaping.clusters.data(),
                        shaping.attributes.data(), &glyph_count);
        if (shaping.result != E_OUTOFMEMORY || room >= piece.size() * 8 + 64) break;
        room *= 2;
    }
    if (previous) SelectObject(dc, previous);
    if (shaping.result != S_OK) glyph_count = 0;
    shaping.glyphs.resize(static_cast<std::size_t>(glyph_count));
    shaping.attributes.resize(static_cast<std::size_t>(glyph_count));
    return shaping;
}

// The characters, but invisible ones, that came out as the font's
// missing-glyph box; nothing when the piece was not shaped in it, or (in a
// font but the selected one) shaped without glyph indices.
std::size_t FallbackFonts::Visible(std::wstring_view piece) {
    std::size_t visible = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        visible += !IsPairSecond(piece, i) && !Has(CodePointAt(piece, i), kIgnorable);
    }
    return visible;
}

std::optional<std::size_t> FallbackFonts::Missing(const Font& font, bool selected,
                                                  std::wstring_view piece,
                                                  const Shaping& shaping) const {
    if (shaping.result != S_OK || shaping.glyphs.empty()) return std::nullopt;
    if (shaping.analysis.fNoGlyphIndex) {
        return selected ? std::optional<std::size_t>(0) : std::nullopt;
    }
    std::size_t missing = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        if (IsPairSecond(piece, i)) continue;
        const std::size_t glyph = shaping.clusters[i];
        if (glyph < shaping.glyphs.size() && shaping.glyphs[glyph] == font.default_glyph &&
            !Has(CodePointAt(piece, i), kIgnorable)) {
            ++missing;
        }
    }
    return missing;
}

std::size_t FallbackFonts::ShapeInChosen(HDC dc, std::wstring_view piece,
                                         const SCRIPT_ANALYSIS& analysis, Shaping& shaping) {
    const SCRIPT_PROPERTIES& properties = PropertiesOf(analysis);
    // The named faces are asked for in the script's character set, so that
    // the font mapper offers a font that has the script where the face is
    // missing; installed families by their own names in any.
    const BYTE script_charset = properties.bCharSet == ANSI_CHARSET
                                    ? static_cast<BYTE>(DEFAULT_CHARSET)
                                    : properties.bCharSet;
    if (!linked_faces_) linked_faces_ = LinkedFacesOf(selected_names_);
    std::vector<std::wstring>& named = named_faces_[properties.langid];
    if (named.empty()) {
        named = *linked_faces_;
        for (std::wstring& face : ShippedFacesFor(properties.langid)) named.push_back(face);
    }
    const auto charset_of = [&](const std::wstring& face) {
        return std::find(named.begin(), named.end(), face) != named.end()
                   ? script_charset
                   : static_cast<BYTE>(DEFAULT_CHARSET);
    };
    const auto kept = [&](const std::wstring& face, BYTE charset) {
        for (std::size_t i = 1; i < fonts_.size(); ++i) {
            if (fonts_[i]->face == face && fonts_[i]->charset == charset) return i;
        }
        return std::size_t{0};
    };
    // Fonts made for this piece, and what each shaped.
    std::map<std::wstring, std::unique_ptr<Font>> made;
    std::map<std::wstring, Shaping> shapings;
    const auto missing = [&](const std::wstring& face) -> std::optional<std::size_t> {
        const Font* font = &Selected();
        if (!face.empty()) {
            const BYTE charset = charset_of(face);
            if (const std::size_t index = kept(face, charset)) {
                font = fonts_[index].get();
            } else {
                font = (made[face] = Create(dc, face, charset)).get();
            }
        }
        Shaping& shaped = shapings[face] = ShapeIn(dc, *font, piece, analysis);
        const std::optional<std::size_t> lacks = Missing(*font, face.empty(), piece, shaped);
        // The selected font without the script lacks every visible
        // character: a fallback must have at least one.
        return lacks || !face.empty() ? lacks : Visible(piece);
    };
    const std::wstring chosen = choice_.Choose(
        analysis.eScript, named,
        [&]() -> const std::vector<FontFamily>& {
            if (!installed_families_) installed_families_ = InstalledFamilies(dc);
            return *installed_families_;
        },
        missing);
    shaping = std::move(shapings[chosen]);
    if (chosen.empty()) return 0;
    if (const std::size_t index = kept(chosen, charset_of(chosen))) return index;
    // Chosen now: kept until the next Reset; the others made here go at once.
    fonts_.push_back(std::move(made[chosen]));
    return fonts_.size() - 1;
}

std::unique_ptr<FallbackFonts::Font> FallbackFonts::Create(HDC dc, const std::wstring& face,
                                                           BYTE charset) const {
    auto font = std::make_unique<Font>();
    font->face = face;
    font->charset = charset;
    // The selected font's height, weight and style in another face; where
    // its ascent or descent reaches past the selected font's, scaled down by
    // the smaller of the two ratios, then a pixel at a time while it still
    // does.
    LOGFONTW wanted = selected_font_;
    wanted.lfCharSet = charset;
    lstrcpynW(wanted.lfFaceName, face.c_str(), LF_FACESIZE);
    const int ascent = Selected().ascent, descent = Selected().descent;
    for (int attempt = 0; attempt < 4; ++attempt) {
        font->handle.reset(CreateFontIndirectW(&wanted));
        if (!font->handle) return font;
        SelectScope select(dc, font->handle.get());
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        font->ascent = metrics.tmAscent;
        font->descent = metrics.tmDescent;
        const LONG height = std::labs(wanted.lfHeight);
        if ((font->ascent <= ascent && font->descent <= descent) || height <= 1) break;
        LONG smaller = height - 1;
        if (attempt == 0) {
            const double scale =
                std::min(static_cast<double>(ascent) / std::max(font->ascent, 1),
                         static_cast<double>(descent) / std::max(font->descent, 1));
            smaller = std::clamp(static_cast<LONG>(std::floor(height * scale)), 1L, height - 1);
        }
        wanted.lfHeight = wanted.lfHeight < 0 ? -smaller : smaller;
    }
    SelectScope select(dc, font->handle.get());
    SCRIPT_FONTPROPERTIES properties{};
    properties.cBytes = sizeof(properties);
    // TrueType and OpenType only: they alone hold sfnt tables.
    font->usable = GetFontData(dc, 0, 0, nullptr, 0) != GDI_ERROR &&
                   ScriptGetFontProperties(dc, &font->cache, &properties) == S_OK;
    font->default_glyph = properties.wgDefault;
    return font;
}

}  // namespace korvane
