#include "UniqueHandle.h"

#include "Log.h"
#include "WinErrorHandling.h"

void UniqueHandle::reset(HANDLE newHandle) noexcept {
    const HANDLE old = handle;
    handle = newHandle;
    if (!isValid(old) || old == newHandle) {
        return;
    }
    try {
        if (!CloseHandle(old)) {
            BM_THROW_SYSERROR("CloseHandle(" << static_cast<const void*>(old) << ") failed",
                              CloseHandle);
        }
    }
    BM_GUARD_CATCH
}
