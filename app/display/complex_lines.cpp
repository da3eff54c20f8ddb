#include "complex_lines.h"

#include <algorithm>
#include <cwchar>
#include <utility>

namespace korvane {
namespace {

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Fonts that ship with Windows for a script, best first, by the script's
// language. "Microsoft Sans Serif" is Uniscribe's own fallback for the
// right-to-left scripts and is in every Windows.
std::vector<std::wstring> ShippedFacesFor(WORD language) {
    switch (language) {
        case LANG_ARABIC:
        case LANG_PERSIAN:
        case LANG_URDU:
        case LANG_HEBREW:
            return {L"Microsoft Sans Serif", L"Segoe UI", L"Tahoma", L"Arial"};
        case LANG_SYRIAC:
            return {L"Estrangelo Edessa", L"Segoe UI Historic"};
        case LANG_THAI:
            return {L"Leelawadee UI", L"Tahoma", L"Microsoft Sans Serif"};
        case LANG_LAO:
            return {L"Leelawadee UI", L"Lao UI", L"DokChampa"};
        case LANG_HINDI:
        case LANG_MARATHI:
        case LANG_NEPALI:
        case LANG_SANSKRIT:
        case LANG_KONKANI:
        case LANG_BENGALI:
        case LANG_ASSAMESE:
        case LANG_PUNJABI:
        case LANG_GUJARATI:
        case LANG_ORIYA:
        case LANG_TAMIL:
        case LANG_TELUGU:
        case LANG_KANNADA:
        case LANG_MALAYALAM:
        case LANG_SINHALESE:
            return {L"Nirmala UI", L"Mangal", L"Vrinda", L"Latha", L"Iskoola Pota"};
        case LANG_CHINESE:
        case LANG_JAPANESE:
        case LANG_KOREAN:
            return {L"Microsoft YaHei", L"SimSun", L"Meiryo", L"Malgun Gothic"};
        default:
            return {L"Segoe UI", L"Segoe UI Symbol", L"Segoe UI Emoji", L"Arial Unicode MS"};
    }
}

// The character set a script's fallback font is asked for in, so that the
// font mapper offers a font that has the script when the named face is
// missing.
BYTE CharsetFor(const SCRIPT_PROPERTIES& script) {
    return script.bCharSet == ANSI_CHARSET ? static_cast<BYTE>(DEFAULT_CHARSET) : script.bCharSet;
}

const SCRIPT_PROPERTIES& PropertiesOf(const SCRIPT_ANALYSIS& analysis) {
    static const SCRIPT_PROPERTIES kNone{};
    const SCRIPT_PROPERTIES** all = nullptr;
    int count = 0;
    if (ScriptGetProperties(&all, &count) != S_OK || analysis.eScript >= count) return kNone;
    return *all[analysis.eScript];
}

int CALLBACK AddFamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found) {
    // Vertical faces ("@...") draw sideways.
    if (font->lfFaceName[0] != L'@') {
        reinterpret_cast<std::vector<std::wstring>*>(found)->push_back(font->lfFaceName);
    }
    return 1;
}

}  // namespace

void ComplexLines::Reset(const LOGFONTW& selected_font) {
    Clear();
    selected_font_ = selected_font;
}

void ComplexLines::Clear() {
    lines_.clear();
    for (Font& font : fonts_) {
        if (font.cache) ScriptFreeCache(&font.cache);
    }
    fonts_.clear();
    fallback_for_script_.clear();
    linked_faces_.reset();
    installed_faces_.reset();
}

std::vector<std::wstring> ComplexLines::FallbackFaces() const {
    std::vector<std::wstring> faces;
    for (const auto& entry : fallback_for_script_) {
        if (entry.second) faces.push_back(fonts_[*entry.second].face);
    }
    return faces;
}

std::optional<std::int64_t> ComplexLines::Shape(HDC dc, std::size_t index, std::wstring_view text) {
    Line& line = lines_[index];
    line = Line{};
    if (text.empty()) return 0;
    if (fonts_.empty()) {
        Font selected;
        selected.usable = true;
        SCRIPT_FONTPROPERTIES properties{};
        properties.cBytes = sizeof(properties);
        if (ScriptGetFontProperties(dc, &selected.cache, &properties) == S_OK) {
            selected.default_glyph = properties.wgDefault;
        }
        fonts_.push_back(std::move(selected));
    }
    const int length = static_cast<int>(text.size());
    // Items: runs of one script and one direction, in a left-to-right
    // paragraph (without a control and a state no bidirectional levels are
    // resolved). Room for an item every 16 characters at first: each try
    // itemises the whole line again.
    std::vector<SCRIPT_ITEM> items(text.size() / 16 + 64);
    int item_count = 0;
    const SCRIPT_CONTROL control{};
    const SCRIPT_STATE state{};
    for (;;) {
        const HRESULT hr = ScriptItemize(text.data(), length, static_cast<int>(items.size()) - 1,
                                         &control, &state, items.data(), &item_count);
        if (hr == S_OK && item_count > 0) break;
        if (hr != E_OUTOFMEMORY || items.size() > text.size() + 2) {
            lines_.erase(index);
            return std::nullopt;
        }
        items.resize(items.size() * 4);
    }
    std::vector<BYTE> levels(static_cast<std::size_t>(item_count));
    for (int i = 0; i < item_count; ++i) levels[i] = static_cast<BYTE>(items[i].a.s.uBidiLevel);
    std::vector<int> visual_to_logical(static_cast<std::size_t>(item_count));
    ScriptLayout(item_count, levels.data(), visual_to_logical.data(), nullptr);
    std::vector<LineItem> visual;
    for (const int item : visual_to_logical) {
        const std::size_t start = static_cast<std::size_t>(items[item].iCharPos);
        const std::size_t end = static_cast<std::size_t>(items[item + 1].iCharPos);
        visual.push_back(LineItem{TextSpan{start, end - start}, items[item].a.fRTL != 0,
                                  PropertiesOf(items[item].a).fComplex != 0});
    }
    // The item that holds a piece.
    const auto analysis_of = [&](TextSpan piece) {
        const auto after = std::upper_bound(
            items.begin(), items.begin() + item_count, static_cast<int>(piece.start),
            [](int position, const SCRIPT_ITEM& item) { return position < item.iCharPos; });
        return (after - 1)->a;
    };
    const auto shape = [&](TextSpan piece, bool, std::vector<int>& advances) {
        return ShapePiece(dc, line, text.substr(piece.start, piece.length), analysis_of(piece),
                          advances);
    };
    const auto measure = [&](TextSpan piece, int* ends) {
        SIZE size{};
        if (!GetTextExtentExPointW(dc, text.data() + piece.start, static_cast<int>(piece.length), 0,
                                   nullptr, ends, &size)) {
            std::fill(ends, ends + piece.length, 0);
        }
    };
    line.layout.Build(text, visual, shape, measure);
    return line.layout.Width();
}

ComplexLines::Shaping ComplexLines::ShapeIn(HDC dc, std::size_t font, std::wstring_view piece,
                                            const SCRIPT_ANALYSIS& analysis) const {
    Shaping shaping;
    shaping.analysis = analysis;
    const Font& in = fonts_[font];
    if (!in.usable) return shaping;
    const HGDIOBJ previous = font ? SelectObject(dc, in.handle.get()) : nullptr;
    const int count = static_cast<int>(piece.size());
    std::size_t room = piece.size() * 3 / 2 + 16;
    shaping.clusters.resize(piece.size());
    int glyph_count = 0;
    for (;;) {
        shaping.glyphs.resize(room);
        shaping.attributes.resize(room);
        shaping.result =
            ScriptShape(dc, &in.cache, piece.data(), count, static_cast<int>(room),
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

// Shaped without error, and no character but an invisible one came out as
// the font's missing-glyph box.
bool ComplexLines::Covers(std::size_t font, std::wstring_view piece, const Shaping& shaping) const {
    if (shaping.result != S_OK || shaping.glyphs.empty()) return false;
    const WORD missing = fonts_[font].default_glyph;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const std::size_t glyph = shaping.clusters[i];
        if (glyph < shaping.glyphs.size() && shaping.glyphs[glyph] == missing &&
            !IsDefaultIgnorable(piece[i])) {
            return false;
        }
    }
    return true;
}

bool ComplexLines::ShapePiece(HDC dc, Line& line, std::wstring_view piece, SCRIPT_ANALYSIS analysis,
                              std::vector<int>& advances) {
    Shaping shaping = ShapeIn(dc, 0, piece, analysis);
    std::size_t font = 0;
    if (!Covers(0, piece, shaping)) {
        Shaping fallback;
        if (const std::optional<std::size_t> found = FindFallback(dc, piece, analysis, fallback)) {
            font = *found;
            shaping = std::move(fallback);
        } else if (shaping.result == USP_E_SCRIPT_NOT_IN_FONT) {
            // No font has the script: the selected font's own glyphs, boxes
            // where it has none, as Windows draws them.
            analysis.eScript = SCRIPT_UNDEFINED;
            shaping = ShapeIn(dc, 0, piece, analysis);
        }
    }
    if (shaping.result != S_OK || shaping.glyphs.empty()) return false;

    const std::size_t first = line.glyphs.size();
    const std::size_t count = shaping.glyphs.size();
    advances.assign(count, 0);
    std::vector<GOFFSET> offsets(count);
    ABC abc{};
    const Font& in = fonts_[font];
    const HGDIOBJ previous = font ? SelectObject(dc, in.handle.get()) : nullptr;
    const HRESULT placed = ScriptPlace(dc, &in.cache, shaping.glyphs.data(),
                                       static_cast<int>(count), shaping.attributes.data(),
                                       &shaping.analysis, advances.data(), offsets.data(), &abc);
    if (previous) SelectObject(dc, previous);
    if (placed != S_OK) return false;
    line.glyphs.insert(line.glyphs.end(), shaping.glyphs.begin(), shaping.glyphs.end());
    line.advances.insert(line.advances.end(), advances.begin(), advances.end());
    line.offsets.insert(line.offsets.end(), offsets.begin(), offsets.end());
    line.runs.resize(line.layout.RunCount() + 1);
    line.runs.back() = GlyphRun{shaping.analysis, font, first};
    return true;
}

std::optional<std::size_t> ComplexLines::FindFallback(HDC dc, std::wstring_view piece,
                                                      const SCRIPT_ANALYSIS& analysis,
                                                      Shaping& shaping) {
    const WORD script = analysis.eScript;
    const auto known = fallback_for_script_.find(script);
    if (known != fallback_for_script_.end()) {
        if (!known->second) return std::nullopt;
        shaping = ShapeIn(dc, *known->second, piece, analysis);
        if (Covers(*known->second, piece, shaping)) return known->second;
    }
    const SCRIPT_PROPERTIES& properties = PropertiesOf(analysis);
    const BYTE charset = CharsetFor(properties);
    const auto tries = [&](const std::wstring& face, BYTE with_charset) {
        const std::size_t font = FontFor(dc, face, with_charset);
        shaping = ShapeIn(dc, font, piece, analysis);
        return Covers(font, piece, shaping) ? std::optional<std::size_t>(font) : std::nullopt;
    };
    std::optional<std::size_t> found;
    for (const std::wstring& face : LinkedFaces()) {
        if ((found = tries(face, charset))) break;
    }
    if (!found) {
        for (const std::wstring& face : ShippedFacesFor(properties.langid)) {
            if ((found = tries(face, charset))) break;
        }
    }
    if (!found) {
        // Every installed family, each by its own name.
        for (const std::wstring& face : InstalledFaces(dc)) {
            if ((found = tries(face, DEFAULT_CHARSET))) break;
        }
    }
    fallback_for_script_[script] = found;
    return found;
}

std::size_t ComplexLines::FontFor(HDC dc, const std::wstring& face, BYTE charset) {
    for (std::size_t i = 1; i < fonts_.size(); ++i) {
        if (fonts_[i].face == face && fonts_[i].charset == charset) return i;
    }
    Font font;
    font.face = face;
    font.charset = charset;
    // The selected font's height, weight and style in another face.
    LOGFONTW wanted = selected_font_;
    wanted.lfCharSet = charset;
    lstrcpynW(wanted.lfFaceName, face.c_str(), LF_FACESIZE);
    font.handle.reset(CreateFontIndirectW(&wanted));
    if (font.handle) {
        const HGDIOBJ previous = SelectObject(dc, font.handle.get());
        SCRIPT_FONTPROPERTIES properties{};
        properties.cBytes = sizeof(properties);
        font.usable = ScriptGetFontProperties(dc, &font.cache, &properties) == S_OK;
        font.default_glyph = properties.wgDefault;
        SelectObject(dc, previous);
    }
    fonts_.push_back(std::move(font));
    return fonts_.size() - 1;
}

// The faces that Windows links to the selected one, from
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink:
// each entry is "FILE,Face" with optional scaling figures after it.
const std::vector<std::wstring>& ComplexLines::LinkedFaces() {
    if (linked_faces_) return *linked_faces_;
    linked_faces_.emplace();
    constexpr wchar_t kSystemLink[] =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink";
    std::vector<wchar_t> value(4096);
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, kSystemLink, selected_font_.lfFaceName,
                                  RRF_RT_REG_MULTI_SZ, nullptr, value.data(), &size);
    if (status == ERROR_MORE_DATA) {
        value.resize(size / sizeof(wchar_t) + 2);
        size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_LOCAL_MACHINE, kSystemLink, selected_font_.lfFaceName,
                              RRF_RT_REG_MULTI_SZ, nullptr, value.data(), &size);
    }
    if (status != ERROR_SUCCESS) return *linked_faces_;
    value.resize(size / sizeof(wchar_t));
    value.push_back(L'\0');
    for (const wchar_t* entry = value.data(); *entry; entry += std::wcslen(entry) + 1) {
        const std::wstring_view link(entry);
        const std::size_t comma = link.find(L',');
        if (comma == std::wstring_view::npos) continue;
        const std::wstring_view face =
            link.substr(comma + 1, link.find(L',', comma + 1) - comma - 1);
        if (!face.empty()) linked_faces_->emplace_back(face);
    }
    return *linked_faces_;
}

const std::vector<std::wstring>& ComplexLines::InstalledFaces(HDC dc) {
    if (installed_faces_) return *installed_faces_;
    installed_faces_.emplace();
    LOGFONTW any{};
    any.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &any, AddFamily, reinterpret_cast<LPARAM>(&*installed_faces_), 0);
    // One entry per family (it is listed once per character set).
    std::sort(installed_faces_->begin(), installed_faces_->end());
    installed_faces_->erase(std::unique(installed_faces_->begin(), installed_faces_->end()),
                            installed_faces_->end());
    return *installed_faces_;
}

void ComplexLines::Draw(HDC dc, HFONT selected, HFONT& current, std::size_t index,
                        std::wstring_view text, std::int64_t x, int y, std::int64_t left,
                        std::int64_t right) const {
    const auto found = lines_.find(index);
    if (found == lines_.end()) return;
    const Line& line = found->second;
    const auto use = [&](HFONT font) {
        if (font != current) SelectObject(dc, font);
        current = font;
    };
    for (const GlyphSlice& slice : line.layout.Visible(left, right)) {
        if (line.layout.Units(slice.run)) {
            use(selected);
            // Characters, drawn as a plain line's are, whole surrogate pairs.
            const TextSpan run = line.layout.RunText(slice.run);
            std::size_t first = slice.first, count = slice.count;
            const wchar_t* units = text.data() + run.start;
            if (first > 0 && IsLowSurrogate(units[first]) && IsHighSurrogate(units[first - 1])) {
                --first;
                ++count;
            }
            if (first + count < run.length && IsLowSurrogate(units[first + count]) &&
                IsHighSurrogate(units[first + count - 1])) {
                ++count;
            }
            ExtTextOutW(dc, static_cast<int>(x + line.layout.Start(slice.run, first)), y, 0,
                        nullptr, units + first, static_cast<UINT>(count), nullptr);
            continue;
        }
        const GlyphRun& run = line.runs[slice.run];
        const Font& font = fonts_[run.font];
        use(run.font ? font.handle.get() : selected);
        const std::size_t glyph = run.first_glyph + slice.first;
        const GOFFSET* offsets = line.offsets.data() + glyph;
        const bool unmoved = std::all_of(offsets, offsets + slice.count,
                                         [](const GOFFSET& o) { return o.du == 0 && o.dv == 0; });
        if (unmoved && !run.analysis.fNoGlyphIndex && !run.analysis.fLogicalOrder) {
            // What ScriptTextOut draws for glyphs in visual order that no
            // mark moves, without its copies of the arrays (glyph indices
            // get no further language processing).
            ExtTextOutW(dc, static_cast<int>(x + slice.offset), y, ETO_GLYPH_INDEX, nullptr,
                        reinterpret_cast<LPCWSTR>(line.glyphs.data() + glyph),
                        static_cast<UINT>(slice.count), line.advances.data() + glyph);
            continue;
        }
        ScriptTextOut(dc, &font.cache, static_cast<int>(x + slice.offset), y, 0, nullptr,
                      &run.analysis, nullptr, 0, line.glyphs.data() + glyph,
                      static_cast<int>(slice.count), line.advances.data() + glyph, nullptr,
                      offsets);
    }
}

}  // namespace korvane
