// Form2's import: reading a .txt file into the text box. How its bytes
// are decoded is in import_text.cpp.
#include "form2.h"

#include <stdexcept>

#include "common_dialogs.h"
#include "import_text.h"

namespace korvane {
namespace {

constexpr wchar_t kImportFilter[] = L"txt file(*.txt)|*.txt";
// Larger files are not imported: the text box could not show them usefully.
constexpr LONGLONG kLargestImport = 64ll << 20;

std::u16string AnsiToText(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::u16string text(length, u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                        length);
    return text;
}

}  // namespace

void Form2::Command2_Click() {
    const auto path = OpenFileDialog(hwnd(), kImportFilter);
    if (!path) return;
    std::wstring text;
    try {
        text = LoadFile(*path);
    } catch (...) {
        return;  // import fails silently and leaves the box as it was
    }
    text1_.SetText(text);
}

std::wstring Form2::LoadFile(const std::wstring& path) {
    // Shared for everything: an editor or a logger may hold the file open
    // for writing, and the import only takes a copy.
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        throw std::runtime_error("cannot open");
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestImport) {
        throw std::runtime_error("cannot read");
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        throw std::runtime_error("cannot read");
    }
    bytes.resize(read);  // a writer may have shortened it meanwhile
    const std::u16string text = ImportedText(bytes, &AnsiToText);
    return std::wstring(text.begin(), text.end());
}

}  // namespace korvane
