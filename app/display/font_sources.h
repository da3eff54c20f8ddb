// Where fallback fonts are looked for, on Windows: the faces linked to a
// face (FontLink\SystemLink), the fonts that ship with Windows for a
// script, the installed families, and a font's English family name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "fallback_choice.h"

namespace korvane {

// Fonts that ship with Windows for a script, best first, by the script's
// language.
std::vector<std::wstring> ShippedFacesFor(WORD language);

// The faces that Windows links to a face, from
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink,
// under each of `names` in turn (the face's localized name, then its
// English family name), each face once.
std::vector<std::wstring> LinkedFacesOf(const std::vector<std::wstring>& names);

// Every installed family once, its vertical ("@") faces left out.
std::vector<FontFamily> InstalledFamilies(HDC dc);

// The English family name of the font selected into `dc`, from its name
// table; empty for a font without one.
std::wstring EnglishFamilyNameOf(HDC dc);

}  // namespace korvane
