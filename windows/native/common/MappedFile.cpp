#include "MappedFile.h"

#include "WinErrorHandling.h"

MappedFile::MappedFile(const tstring& path) {
    file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        BM_THROW_SYSERROR("CreateFile(" << path << ") failed", CreateFileW);
    }
    map(file.get(), path);
}

MappedFile::MappedFile(HANDLE source, const tstring& path) {
    map(source, path);
}

void MappedFile::map(HANDLE source, const tstring& path) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(source, &size)) {
        BM_THROW_SYSERROR("GetFileSizeEx(" << path << ") failed", GetFileSizeEx);
    }
    fileSize = static_cast<std::uint64_t>(size.QuadPart);
    if (fileSize == 0) {
        // Windows refuses to map an empty file.
        return;
    }
    mapping.reset(CreateFileMappingW(source, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        BM_THROW_SYSERROR("CreateFileMapping(" << path << ") failed", CreateFileMappingW);
    }
    view.reset(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) {
        BM_THROW_SYSERROR("MapViewOfFile(" << path << ") failed", MapViewOfFile);
    }
}
