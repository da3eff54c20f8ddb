// Test helper: holds a file open for reading.
//   file_holder PATH              shares nothing, as Windows holds the image
//                                 of a program that runs elevated: no other
//                                 program can open the file for writing or
//                                 delete it until it is let go
//   file_holder --share-all PATH  shares reading, writing and deleting, as a
//                                 virus scanner or the search indexer does
// Prints "held" once the file is open, then holds it until its standard
// input closes.
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
