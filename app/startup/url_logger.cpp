// Test helper registered as the http handler: appends each address it is
// asked to open to opened-urls.txt beside itself.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string log(path, length);
    log = log.substr(0, log.find_last_of("\\/") + 1) + "opened-urls.txt";
    FILE* file = std::fopen(log.c_str(), "a");
    if (!file) return 1;
    for (int i = 1; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
    std::fclose(file);
    return 0;
}
