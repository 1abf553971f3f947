#include "UniqueHandle.h"

#include "ErrorHandling.h"
#include "MsiUtils.h"
#include "WinErrorHandling.h"

namespace bm_detail {

void KernelHandleTraits::close(HANDLE h) noexcept {
    if (!CloseHandle(h)) {
        BM_LOG_SYSERROR("CloseHandle(" << static_cast<const void*>(h) << ") failed", CloseHandle);
    }
}

void FindHandleTraits::close(HANDLE h) noexcept {
    if (!FindClose(h)) {
        BM_LOG_SYSERROR("FindClose(" << static_cast<const void*>(h) << ") failed", FindClose);
    }
}

void ModuleTraits::close(HMODULE module) noexcept {
    if (!FreeLibrary(module)) {
        BM_LOG_SYSERROR("FreeLibrary(" << static_cast<const void*>(module) << ") failed",
                        FreeLibrary);
    }
}

void localFree(void* p) noexcept {
    // LocalFree returns null on success and the block it could not free otherwise.
    if (LocalFree(p)) {
        BM_LOG_SYSERROR("LocalFree failed", LocalFree);
    }
}

void MappedViewTraits::close(const void* view) noexcept {
    if (!UnmapViewOfFile(view)) {
        BM_LOG_SYSERROR("UnmapViewOfFile() failed", UnmapViewOfFile);
    }
}

void MsiHandleTraits::close(MSIHANDLE h) noexcept {
    // Reaching the installer library can itself fail.
    try {
        msi::closeMSIHANDLE(h);
    }
    BM_GUARD_CATCH
}

}  // namespace bm_detail
