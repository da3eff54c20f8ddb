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

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    const bool share_all = argc == 3 && std::wcscmp(argv[1], L"--share-all") == 0;
    if (argc != 2 && !share_all) {
        std::fprintf(stderr, "usage: file_holder [--share-all] PATH\n");
        return 2;
    }
    const DWORD sharing = share_all ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
    const HANDLE file = CreateFileW(argv[argc - 1], GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "CreateFileW: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    CloseHandle(file);
    return 0;
}
