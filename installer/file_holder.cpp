// Test helper: holds a file open with no sharing at all, as Windows holds the
// image of a program that runs elevated: no other program can open the file
// for writing or delete it until it is let go.
//   file_holder PATH   prints "held" once the file is open, then holds it
//                      until its standard input closes
#include <windows.h>

#include "test_driver.h"

int wmain(int argc, wchar_t** argv) {
    using korvane::testing::Args;
    return korvane::testing::RunCommand(argc, argv, {{L"", 1, 1, [](const Args& args) {
                                                          return korvane::testing::HoldFile(
                                                              args[0], GENERIC_READ, 0);
                                                      }}});
}
