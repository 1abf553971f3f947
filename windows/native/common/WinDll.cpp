#include "WinDll.h"

#include "FileUtils.h"
#include "WinErrorHandling.h"
#include "WinSysInfo.h"

namespace {

Dll::Handle loadLibrary(const tstring& path) {
    Dll::Handle handle(LoadLibraryW(path.c_str()));
    if (!handle) {
        BM_THROW_SYSERROR("LoadLibraryW(" << path << ") failed", LoadLibraryW);
    }
    return handle;
}

}  // namespace

Dll::Dll(const tstrings::MessageBuilder& libPath)
    : path(libPath.tstr()), handle(loadLibrary(path)) {}

Dll::Dll(const tstrings::MessageBuilder& libName, const System&)
    : path(FileUtils::joinPath(SysInfo::getSystemDir(), libName.tstr())),
      handle(loadLibrary(path)) {}

Dll::Dll(const tstring& moduleName) : path(moduleName) {
    // Flags 0: the reference count goes up, and the owner's FreeLibrary
    // gives that reference back.
    if (!GetModuleHandleExW(0, path.c_str(), handle.put())) {
        BM_THROW_SYSERROR("GetModuleHandleExW(" << path << ") failed", GetModuleHandleExW);
    }
}

void* Dll::getFunction(const std::string& name, bool raiseIfMissing) const {
    void* const function = reinterpret_cast<void*>(GetProcAddress(handle.get(), name.c_str()));
    if (!function && raiseIfMissing) {
        BM_THROW_SYSERROR(
            "GetProcAddress(" << path << ", " << tstrings::fromUtf8(name) << ") failed",
            GetProcAddress);
    }
    return function;
}
