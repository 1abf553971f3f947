#include "StagedFileWriter.h"

#include <algorithm>
#include <vector>

#include "Log.h"
#include "WinErrorHandling.h"
#include "WinFileUtils.h"

namespace FileUtils {

FileId FileId::of(HANDLE handle, const tstring& path) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info)) {
        BM_THROW_SYSERROR("GetFileInformationByHandle(" << path << ") failed",
                          GetFileInformationByHandle);
    }
    FileId id;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    return id;
}

StagedFileWriter::StagedFileWriter(const tstring& dstPath) : dstPath(dstPath) {
    // The handle of the creation is the one written through: reopening the
    // file would leave a moment in which another process could take a
    // writing handle of its own and keep it.
    tmpPath = createTempFile(L"qzt", L".tmp", dirname(dstPath), &file);
    cleaner.addFile(tmpPath);
}

void writeAll(HANDLE file, const void* data, size_t size, const tstring& path) {
    // In pieces of a megabyte: Linux copies a mapped file into another about
    // three times faster so than in one write of hundreds of megabytes
    // (measured under Wine and natively).
    const size_t piece = 1024 * 1024;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min(size, piece));
        DWORD written = 0;
        if (!WriteFile(file, p, chunk, &written, nullptr)) {
            BM_THROW_SYSERROR("WriteFile(" << path << ") failed", WriteFile);
        }
        if (written == 0) {
            BM_THROW_SYSERROR_CODE("WriteFile(" << path << ") failed", WriteFile,
                                   ERROR_WRITE_FAULT);
        }
        p += written;
        size -= written;
    }
}

void StagedFileWriter::write(const void* data, size_t size) {
    writeAll(file.get(), data, size, tmpPath);
}

FileId StagedFileWriter::finalize() {
    // Renamed through the handle that wrote it, so the file never goes
    // through a moment without it; a sibling is always on the same volume.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                      (dstPath.size() + 1) * sizeof(wchar_t));
    FILE_RENAME_INFO* const rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(dstPath.size() * sizeof(wchar_t));
    std::copy(dstPath.begin(), dstPath.end(), rename->FileName);
    if (!SetFileInformationByHandle(file.get(), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
        BM_THROW_SYSERROR("SetFileInformationByHandle(" << tmpPath << ", FileRenameInfo, "
                                                        << dstPath << ") failed",
                          SetFileInformationByHandle);
    }
    cleaner.cancel();
    LOG_TRACE("Moved '" << tmpPath << "' file to '" << dstPath << "'");
    const FileId id = FileId::of(file.get(), dstPath);
    // Closing is where a delayed write error would show.
    if (!CloseHandle(file.release())) {
        BM_THROW_SYSERROR("CloseHandle(" << dstPath << ") failed", CloseHandle);
    }
    return id;
}

}  // namespace FileUtils
