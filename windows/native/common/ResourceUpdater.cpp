#include "ResourceUpdater.h"

#include "Log.h"
#include "WinErrorHandling.h"

namespace {

tstring nameOf(LPCWSTR value) {
    if (IS_INTRESOURCE(value)) {
        return L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(value));
    }
    return value;
}

}  // namespace

ResourceUpdater::ResourceUpdater(const tstring& path) : path(path) {
    handle = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!handle) {
        BM_THROW_SYSERROR("BeginUpdateResource(" << path << ") failed", BeginUpdateResourceW);
    }
}

ResourceUpdater::~ResourceUpdater() {
    if (!handle) {
        return;
    }
    try {
        if (!EndUpdateResourceW(handle, TRUE)) {
            BM_THROW_SYSERROR("EndUpdateResource(" << path << ", discard) failed",
                              EndUpdateResourceW);
        }
    }
    BM_GUARD_CATCH
}

void ResourceUpdater::update(LPCWSTR type, LPCWSTR name, const void* data, DWORD size,
                             WORD language) {
    if (!UpdateResourceW(handle, type, name, language, const_cast<void*>(data), size)) {
        BM_THROW_SYSERROR("UpdateResource(" << path << ", type='" << nameOf(type) << "', name='"
                                            << nameOf(name) << "', " << size << " bytes) failed",
                          UpdateResourceW);
    }
}

void ResourceUpdater::commit() {
    // The handle is spent whatever EndUpdateResource returns.
    const HANDLE h = handle;
    handle = nullptr;
    if (!EndUpdateResourceW(h, FALSE)) {
        BM_THROW_SYSERROR("EndUpdateResource(" << path << ") failed", EndUpdateResourceW);
    }
}
