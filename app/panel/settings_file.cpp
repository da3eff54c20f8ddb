#include "settings_file.h"

#include <windows.h>

#include "panel_rules.h"
#include "program_folder.h"

namespace korvane {
namespace {

// The ANSI form of a path. A folder whose name the code page cannot spell
// is reached through its short name instead.
std::string AnsiPath(const std::wstring& folder, const wchar_t* file) {
    auto to_ansi = [](const std::wstring& wide, bool* lossy) {
        BOOL used_default = FALSE;
        const int size =
            WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, &used_default);
        std::string ansi(size > 0 ? size : 1, '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), size, nullptr, &used_default);
        ansi.resize(ansi.size() - 1);
        *lossy = used_default != FALSE;
        return ansi;
    };
    bool lossy = false;
    std::string ansi = to_ansi(folder + L"\\" + file, &lossy);
    if (!lossy) return ansi;
    std::wstring short_folder(32768, L'\0');
    const DWORD length = GetShortPathNameW(folder.c_str(), short_folder.data(),
                                           static_cast<DWORD>(short_folder.size()));
    if (length == 0 || length >= short_folder.size()) return ansi;
    short_folder.resize(length);
    return to_ansi(short_folder + L"\\" + file, &lossy);
}

constexpr char kSection[] = "Check";
constexpr char kKey[] = "Check1";

}  // namespace

SettingsFile::SettingsFile() : path_(AnsiPath(ProgramFolder(), L"test.ini")) {}

int SettingsFile::ReadCheck1(int current) const {
    const std::string fallback = Check1ToStored(current);
    char value[256] = {};
    GetPrivateProfileStringA(kSection, kKey, fallback.c_str(), value, sizeof value, path_.c_str());
    return Check1FromStored(value);
}

void SettingsFile::WriteCheck1(int value) const {
    WritePrivateProfileStringA(kSection, kKey, Check1ToStored(value).c_str(), path_.c_str());
}

}  // namespace korvane
