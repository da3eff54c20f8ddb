// test.ini beside the executable: section "Check", key "Check1".
#pragma once

#include <string>

namespace korvane {

class SettingsFile {
public:
    // The file in the executable's folder.
    SettingsFile();

    // The stored value, or `current` when the file, section or key is
    // missing; anything but 0, 1 or 2 reads as 1.
    int ReadCheck1(int current) const;
    // Creates or replaces the key. A failure (read-only folder or file)
    // is ignored.
    void WriteCheck1(int value) const;

private:
    // Wide, so that any folder name works; the profile calls still write
    // the file in the ANSI code page.
    std::wstring path_;
};

}  // namespace korvane
