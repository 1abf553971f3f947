#include "ToolFiles.h"

#include <windows.h>

#include "StagedFileWriter.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"
#include "WinFileUtils.h"

namespace ToolFiles {

namespace {

UniqueHandle openForReading(const tstring& path, DWORD& error) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    return file;
}

tstring describe(DWORD error) {
    return tstrings::trim(describeMessageId(error, nullptr), L" \t\r\n.");
}

}  // namespace

std::uint64_t requireReadable(const tstring& path, const tstring& what) {
    DWORD error = ERROR_SUCCESS;
    UniqueHandle file = openForReading(path, error);
    if (!file) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            BM_TOOL_FAIL(what << " '" << path << "' does not exist");
        }
        if (FileUtils::isDirectory(path)) {
            BM_TOOL_FAIL(what << " '" << path << "' is a folder, not a file");
        }
        BM_TOOL_FAIL("cannot read " << what << " '" << path << "': " << describe(error));
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file.get(), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        BM_TOOL_FAIL(what << " '" << path << "' is a folder, not a file");
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        BM_THROW_SYSERROR("GetFileSizeEx(" << path << ") failed", GetFileSizeEx);
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::vector<std::uint8_t> head(const tstring& path, size_t count) {
    DWORD error = ERROR_SUCCESS;
    UniqueHandle file = openForReading(path, error);
    if (!file) {
        BM_THROW_SYSERROR_CODE("CreateFile(" << path << ") failed", CreateFileW, error);
    }
    std::vector<std::uint8_t> bytes(count);
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(count), &got, nullptr)) {
        BM_THROW_SYSERROR("ReadFile(" << path << ") failed", ReadFile);
    }
    bytes.resize(got);
    return bytes;
}

bool isCompoundFile(const std::vector<std::uint8_t>& head) {
    static const std::uint8_t magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    return head.size() >= sizeof(magic) && std::equal(magic, magic + sizeof(magic), head.begin());
}

bool sameFile(const tstring& a, const tstring& b) {
    if (FileUtils::normalizePath(FileUtils::toAbsolutePath(a)) ==
        FileUtils::normalizePath(FileUtils::toAbsolutePath(b))) {
        return true;
    }
    DWORD error = ERROR_SUCCESS;
    UniqueHandle fa = openForReading(a, error);
    UniqueHandle fb = openForReading(b, error);
    if (!fa || !fb) {
        return false;
    }
    return FileUtils::FileId::of(fa.get(), a) == FileUtils::FileId::of(fb.get(), b);
}

}  // namespace ToolFiles
