// Test helper: file_holder [--share-all] PATH holds a file open for reading
// until its standard input closes (printing "held" once it is open). It shares
// nothing, as Windows holds the image of a program that runs elevated, or with
// --share-all reading, writing and deleting, as a virus scanner does.
#include <windows.h>

#include "test_driver.h"

int wmain(int argc, wchar_t** argv) {
    using korvane::testing::Args;
    using korvane::testing::HoldFile;
    constexpr DWORD kAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return korvane::testing::RunCommand(
        argc, argv,
        {{L"--share-all", 1, 1,
          [](const Args& args) { return HoldFile(args[0], GENERIC_READ, kAll); }},
         {L"", 1, 1, [](const Args& args) { return HoldFile(args[0], GENERIC_READ, 0); }}});
}
