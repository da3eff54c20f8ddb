#include "settings_file.h"

#include <windows.h>

#include "panel_rules.h"
#include "program_folder.h"
#include "wide_text.h"

namespace korvane {
namespace {

constexpr wchar_t kSection[] = L"Check";
constexpr wchar_t kKey[] = L"Check1";

}  // namespace

SettingsFile::SettingsFile() : path_(ProgramFolder() + L"\\test.ini") {}

int SettingsFile::ReadCheck1(int current) const {
    const std::wstring fallback = Widen(Check1ToStored(current));
    wchar_t value[256] = {};
    GetPrivateProfileStringW(kSection, kKey, fallback.c_str(), value, 256, path_.c_str());
    std::string stored;
    for (const wchar_t* c = value; *c; ++c) {
        stored.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    }
    return Check1FromStored(stored);
}

void SettingsFile::WriteCheck1(int value) const {
    WritePrivateProfileStringW(kSection, kKey, Widen(Check1ToStored(value)).c_str(), path_.c_str());
}

}  // namespace korvane
