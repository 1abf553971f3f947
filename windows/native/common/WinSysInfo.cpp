#include "WinSysInfo.h"

#include <vector>

#include "WinErrorHandling.h"

namespace {

tstring getModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n;
    for (;;) {
        n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) {
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    if (n == 0) {
        BM_THROW_SYSERROR("GetModuleFileName failed", GetModuleFileNameW);
    }
    return tstring(buffer.data(), n);
}

}  // namespace

namespace SysInfo {

HMODULE getCurrentModuleHandle() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&getCurrentModuleHandle), &module)) {
        BM_THROW_SYSERROR("GetModuleHandleExW failed", GetModuleHandleExW);
    }
    return module;
}

tstring getCurrentModulePath() { return getModulePath(getCurrentModuleHandle()); }

}  // namespace SysInfo
