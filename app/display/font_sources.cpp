#include "font_sources.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "font_names.h"

namespace korvane {
namespace {

int CALLBACK AddFamily(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD type, LPARAM found) {
    // Vertical faces ("@...") draw sideways. Raster and vector fonts are
    // marked: they draw at fixed sizes or without glyph indices.
    const DWORD flags = reinterpret_cast<const NEWTEXTMETRICEXW*>(metrics)->ntmTm.ntmFlags;
    const bool outline =
        !(type & RASTER_FONTTYPE) && ((type & TRUETYPE_FONTTYPE) || (flags & NTM_PS_OPENTYPE));
    if (font->lfFaceName[0] != L'@') {
        auto& families = *reinterpret_cast<std::map<std::wstring, bool>*>(found);
        families[font->lfFaceName] |= outline;
    }
    return 1;
}

}  // namespace

// "Microsoft Sans Serif" is Uniscribe's own fallback for the
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

std::vector<std::wstring> LinkedFacesOf(const std::vector<std::wstring>& names) {
    constexpr wchar_t kSystemLink[] =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink";
    std::vector<std::wstring> faces;
    for (const std::wstring& name : names) {
        DWORD size = 0;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, kSystemLink, name.c_str(), RRF_RT_REG_MULTI_SZ,
                         nullptr, nullptr, &size) != ERROR_SUCCESS) {
            continue;
        }
        std::vector<wchar_t> value(size / sizeof(wchar_t) + 2);
        size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (RegGetValueW(HKEY_LOCAL_MACHINE, kSystemLink, name.c_str(), RRF_RT_REG_MULTI_SZ,
                         nullptr, value.data(), &size) != ERROR_SUCCESS) {
            continue;
        }
        value.resize(size / sizeof(wchar_t));
        for (std::wstring& face : ParseSystemLink(std::wstring_view(value.data(), value.size()))) {
            if (std::find(faces.begin(), faces.end(), face) == faces.end()) {
                faces.push_back(std::move(face));
            }
        }
    }
    return faces;
}

std::vector<FontFamily> InstalledFamilies(HDC dc) {
    std::map<std::wstring, bool> families;  // a family is listed once per character set
    LOGFONTW any{};
    any.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &any, AddFamily, reinterpret_cast<LPARAM>(&families), 0);
    std::vector<FontFamily> found;
    for (const auto& [face, outline] : families) found.push_back(FontFamily{face, outline});
    return found;
}

std::wstring EnglishFamilyNameOf(HDC dc) {
    constexpr DWORD kName = 'n' | ('a' << 8) | ('m' << 16) | ('e' << 24);
    const DWORD size = GetFontData(dc, kName, 0, nullptr, 0);
    if (size == GDI_ERROR || size == 0) return {};
    std::vector<unsigned char> table(size);
    if (GetFontData(dc, kName, 0, table.data(), size) != size) return {};
    return EnglishFamilyName(table.data(), table.size());
}

}  // namespace korvane
