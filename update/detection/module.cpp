#include "module.h"

#include <oleauto.h>

#include "call_no_throw.h"

namespace korvane::update {
namespace {

HMODULE g_module = nullptr;

}  // namespace

void SetModuleHandle(HMODULE module) noexcept { g_module = module; }

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT LoadModuleTypeLib(ITypeLib** type_lib) noexcept {
    if (!type_lib) return E_POINTER;
    *type_lib = nullptr;
    return CallNoThrow([&] {
        std::wstring path = ModulePath();
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        return LoadTypeLibEx(path.c_str(), REGKIND_NONE, type_lib);
    });
}

}  // namespace korvane::update
