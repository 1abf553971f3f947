#include "WinFileUtils.h"

#include <direct.h>
#include <stdlib.h>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include <shlwapi.h>

#include "ErrorHandling.h"
#include "Log.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"

namespace FileUtils {

namespace {

DWORD (*tickCountSource)() = nullptr;
void (*beforeTempDirectoryCreated)(const tstring&) = nullptr;

DWORD tickCount() {
    return tickCountSource ? tickCountSource() : GetTickCount();
}

bool isNotFoundError(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool hasIllegalNameChars(const tstring& text) {
    for (const wchar_t c : text) {
        if (c < 32 || std::wcschr(L"<>:\"|?*/\\", c) != nullptr) {
            return true;
        }
    }
    return false;
}

// With `keep`, the handle stays open for writing and renaming, and other
// processes may only read: nobody gets a handle to write through between the
// creation and the end of the owner's work.
bool createNewFile(const tstring& path, UniqueHandle* keep) {
    const DWORD access = keep ? GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE : GENERIC_WRITE;
    const DWORD share = keep ? FILE_SHARE_READ : 0;
    UniqueHandle h(CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        return false;
    }
    LOG_TRACE("Created [" << path << "] file");
    if (keep) {
        *keep = std::move(h);
    }
    return true;
}

// `path` is taken by value: it may be a temporary prefix of the caller's text.
void createDir(tstring path, LPSECURITY_ATTRIBUTES securityAttributes, tstring_array* createdDirs,
               bool mustCreate) {
    if (CreateDirectoryW(path.c_str(), securityAttributes)) {
        LOG_TRACE("Created [" << path << "] directory");
        if (createdDirs) {
            createdDirs->push_back(stripTrailingSeparators(path));
        }
        return;
    }
    const DWORD error = GetLastError();
    if (mustCreate || securityAttributes || !isDirectory(path)) {
        BM_THROW_SYSERROR_CODE("CreateDirectory(" << path << ") failed", CreateDirectoryW, error);
    }
}

// Where the first level that may be created ends, in a path that ends with a
// separator. Levels inside "\\?\", "\\server\share\" or "\\?\UNC\server\share\"
// name no directory at all, so asking whether they exist would fail the call.
tstring::size_type firstLevelEnd(const tstring& s) {
    const wchar_t* const separators = L"\\/";
    auto nextSeparator = [&](tstring::size_type from) {
        const tstring::size_type pos = s.find_first_of(separators, from);
        return pos == tstring::npos ? s.size() - 1 : pos;
    };
    auto skipComponents = [&](tstring::size_type from, int count) {
        tstring::size_type pos = from;
        for (int i = 0; i < count; ++i) {
            pos = nextSeparator(pos) + 1;
        }
        return pos - 1;
    };
    if (s.size() < 2 || !isPathSeparator(s[0]) || !isPathSeparator(s[1])) {
        return 0;
    }
    if (s.size() >= 4 && (s[2] == L'?' || s[2] == L'.') && isPathSeparator(s[3])) {
        if (tstrings::startsWith(s.substr(4), L"UNC\\", tstrings::IgnoreCase)) {
            return skipComponents(8, 2);
        }
        return skipComponents(4, 1);
    }
    return skipComponents(2, 2);
}

void createDirectoryImpl(const tstring& path, tstring_array* createdDirs, bool exclusive) {
    if (path.empty()) {
        return;
    }
    const tstring s = stripTrailingSeparators(path) + L'\\';
    for (tstring::size_type pos = s.find_first_of(L"\\/", firstLevelEnd(s)); pos != tstring::npos;
         pos = s.find_first_of(L"\\/", pos + 1)) {
        const bool last = pos + 1 == s.size();
        createDir(s.substr(0, pos + 1), nullptr, createdDirs, exclusive && last);
    }
}

void moveFileImpl(const tstring& from, const tstring& to, DWORD flags) {
    const bool wasDirectory = isDirectory(from);
    if (!MoveFileExW(from.c_str(), to.empty() ? nullptr : to.c_str(), flags)) {
        BM_THROW_SYSERROR("MoveFileEx(" << from << ", " << to << ", " << flags << ") failed",
                          MoveFileExW);
    }
    const bool onReboot = (flags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    const char* const kind = wasDirectory ? "folder" : "file";
    if (to.empty()) {
        LOG_TRACE((onReboot ? "Delete" : "Deleted")
                  << " '" << from << "' " << kind << (onReboot ? " on reboot" : ""));
    } else {
        LOG_TRACE((onReboot ? "Move" : "Moved") << " '" << from << "' " << kind << " to '" << to
                                                << "'" << (onReboot ? " on reboot" : ""));
    }
}

bool deleteFileImpl(const tstring& path) {
    if (DeleteFileW(path.c_str())) {
        LOG_TRACE("Deleted [" << path << "] file");
        return true;
    }
    return isNotFoundError(GetLastError());
}

// Junctions and symbolic links may point anywhere: deleting through one would
// empty a directory that was never part of the tree.
bool isLink(const tstring& path) {
    const DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

class BatchDeleter {
public:
    explicit BatchDeleter(const tstring& dir) : dir(dir) {}

    BatchDeleter& recursive(bool value) {
        isRecursive = value;
        return *this;
    }

    bool execute(const std::nothrow_t&) const {
        if (!pathExists(dir)) {
            return true;
        }
        if (!isDirectory(dir)) {
            return false;
        }
        if (isRecursive && isLink(dir)) {
            return deleteDirectory(dir, std::nothrow);
        }
        try {
            if (!walk(false)) {
                return false;
            }
            return isRecursive ? deleteDirectory(dir, std::nothrow) : true;
        }
        BM_GUARD_CATCH
        return false;
    }

    void execute() const {
        if (!pathExists(dir)) {
            return;
        }
        if (isRecursive && isLink(dir)) {
            deleteDirectory(dir);
            return;
        }
        walk(true);
        if (isRecursive) {
            deleteDirectory(dir);
        }
    }

private:
    bool walk(bool throwOnFailure) const {
        if (isRecursive) {
            DeleteAllCallback callback(throwOnFailure);
            iterateDirectory(dir, callback);
            return !callback.failed;
        }
        DeleteFilesCallback callback(throwOnFailure);
        iterateDirectory(dir, callback);
        return !callback.failed;
    }

    tstring dir;
    bool isRecursive = false;
};

}  // namespace

bool pathExists(const tstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const tstring& path) {
    const DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isNonEmptyDirectory(const tstring& path) {
    return isDirectory(path) && !PathIsDirectoryEmptyW(path.c_str());
}

tstring toAbsolutePath(const tstring& path) {
    if (path.empty()) {
        // The runtime's buffer goes back to it even when the copy fails.
        const UniqueCrtPtr<wchar_t> cwd(_wgetcwd(nullptr, 0));
        if (!cwd) {
            BM_THROW("_tgetcwd() failed");
        }
        const tstring result = cwd.get();
        if (result.empty()) {
            BM_THROW("_tgetcwd() returned empty string");
        }
        return result;
    }
    // The runtime's own allocation holds MAX_PATH characters only, while the
    // system resolves paths up to the longest one it accepts.
    std::vector<wchar_t> buffer(32768);
    if (!_wfullpath(buffer.data(), path.c_str(), buffer.size())) {
        BM_THROW_MSG("_tfullpath(" << path << ") failed");
    }
    return tstring(buffer.data());
}

tstring toShortPath(const tstring& path) {
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) {
        BM_THROW_SYSERROR("GetShortPathName(" << path << ") failed", GetShortPathNameW);
    }
    std::vector<wchar_t> buffer(size);
    const DWORD length = GetShortPathNameW(path.c_str(), buffer.data(), size);
    if (size != length + 1) {
        BM_THROW_SYSERROR("GetShortPathName(" << path << ") failed", GetShortPathNameW);
    }
    return tstring(buffer.data(), length);
}

tstring getTempDirectory() {
    std::vector<wchar_t> buffer(260);
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length > buffer.size()) {
        buffer.resize(length);
        length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length >= buffer.size()) {
            // Grew again between the two calls: the buffer holds nothing usable.
            BM_THROW_SYSERROR_CODE("GetTempPath failed", GetTempPathW, ERROR_INSUFFICIENT_BUFFER);
        }
    }
    // An empty answer would put temporary files in the current directory.
    if (length == 0) {
        BM_THROW_SYSERROR("GetTempPath failed", GetTempPathW);
    }
    return stripTrailingSeparators(tstring(buffer.data()));
}

tstring createTempFile(const tstring& prefix, const tstring& suffix, const tstring& baseDir,
                       UniqueHandle* keep) {
    if (hasIllegalNameChars(prefix)) {
        BM_THROW_MSG("Illegal characters in prefix=" << prefix);
    }
    if (hasIllegalNameChars(suffix)) {
        BM_THROW_MSG("Illegal characters in suffix=" << suffix);
    }
    // Uniqueness rests on exclusive creation alone; the clock only makes a
    // collision with names taken earlier unlikely.
    const DWORD tick = tickCount();
    DWORD error = ERROR_SUCCESS;
    for (DWORD i = 0; i < 100; ++i) {
        const std::int32_t number = static_cast<std::int32_t>(tick + i);
        // Formatted by the message stream, as std::to_wstring would pull a
        // second printf family into every executable.
        const tstring path =
            joinPath(baseDir, (tstrings::MessageBuilder() << prefix << number << suffix).tstr());
        if (createNewFile(path, keep)) {
            return path;
        }
        // Kept for the report: the cause of a failure is the last one met.
        error = GetLastError();
    }
    BM_THROW_SYSERROR_CODE(
        "createTempFile(" << prefix << ", " << suffix << ", " << baseDir << ") failed", CreateFileW,
        error);
}

tstring createTempFile(const tstring& prefix, const tstring& suffix, const tstring& baseDir) {
    return createTempFile(prefix, suffix, baseDir, nullptr);
}

tstring createTempFile(const tstring& path) {
    if (createNewFile(path, nullptr)) {
        return path;
    }
    return createTempFile(replaceSuffix(basename(path)), suffix(path), dirname(path));
}

tstring createTempDirectory(const tstring& prefix, const tstring& suffix, const tstring& baseDir) {
    const tstring path = createTempFile(prefix, suffix, baseDir);
    deleteFile(path);
    if (beforeTempDirectoryCreated) {
        beforeTempDirectoryCreated(path);
    }
    // Between the deletion and the creation anybody may take the name. A
    // directory found there is not ours, and whatever we put into it could be
    // swapped under us: only a directory this call creates will do.
    createDirectoryImpl(path, nullptr, true);
    return path;
}

void createDirectory(const tstring& path, tstring_array* createdDirs) {
    createDirectoryImpl(path, createdDirs, false);
}

void copyFile(const tstring& from, const tstring& to, bool failIfExists) {
    createDirectory(dirname(to));
    if (!CopyFileW(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE)) {
        BM_THROW_SYSERROR(
            "CopyFile(" << from << ", " << to << ", " << (failIfExists ? 1 : 0) << ") failed",
            CopyFileW);
    }
    LOG_TRACE("Copied [" << from << "] file to [" << to << "]");
}

void moveFile(const tstring& from, const tstring& to, bool failIfExists) {
    createDirectory(dirname(to));
    DWORD flags = MOVEFILE_COPY_ALLOWED;
    if (!failIfExists) {
        flags |= MOVEFILE_REPLACE_EXISTING;
    }
    moveFileImpl(from, to, flags);
}

bool deleteFile(const tstring& path, const std::nothrow_t&) {
    bool ok = deleteFileImpl(path);
    const DWORD error = GetLastError();
    if (!ok && error == ERROR_ACCESS_DENIED) {
        const DWORD attrs = GetFileAttributesW(path.c_str());
        SetLastError(error);
        if (attrs == INVALID_FILE_ATTRIBUTES) {
            return false;
        }
        if (attrs & FILE_ATTRIBUTE_READONLY) {
            if (SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY)) {
                LOG_TRACE("Discarded R/O attribute from [" << path << "] file");
                ok = deleteFileImpl(path);
            } else {
                const DWORD attrsError = GetLastError();
                if (Logger::instance().accepts(LogLevel::Warning)) {
                    const SysError warning(
                        tstrings::MessageBuilder() << "Failed to discard R/O attribute from ["
                                                   << path << "] file. File will not be deleted",
                        reinterpret_cast<const void*>(SetFileAttributesW), attrsError);
                    LOG_WARNING(std::string(warning.what()));
                }
                SetLastError(error);
            }
        }
    }
    return ok || isNotFoundError(GetLastError());
}

void deleteFile(const tstring& path) {
    if (!deleteFile(path, std::nothrow)) {
        BM_THROW_SYSERROR("DeleteFile(" << path << ") failed", DeleteFileW);
    }
}

bool deleteDirectory(const tstring& path, const std::nothrow_t&) {
    if (RemoveDirectoryW(path.c_str())) {
        LOG_TRACE("Deleted [" << path << "] directory");
        return true;
    }
    return isNotFoundError(GetLastError());
}

void deleteDirectory(const tstring& path) {
    if (!deleteDirectory(path, std::nothrow)) {
        BM_THROW_SYSERROR("RemoveDirectory(" << path << ") failed", RemoveDirectoryW);
    }
}

bool DirectoryCallback::onFile(const tstring&) {
    return true;
}

bool DirectoryCallback::onDirectory(const tstring&) {
    return true;
}

void iterateDirectory(const tstring& dir, DirectoryCallback& callback) {
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle search(FindFirstFileW(joinPath(dir, L"*").c_str(), &entry));
    if (!search) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        BM_THROW_SYSERROR("FindFirstFile(" << dir << ") failed", FindFirstFileW);
    }
    do {
        const tstring name = entry.cFileName;
        const tstring full = joinPath(dir, name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name == L"." || name == L"..") {
                continue;
            }
            if (!callback.onDirectory(full)) {
                return;
            }
        } else if (!callback.onFile(full)) {
            return;
        }
    } while (FindNextFileW(search.get(), &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        BM_THROW_SYSERROR("FindNextFile(" << dir << ") failed", FindNextFileW);
    }
}

bool DeleteFilesCallback::onFile(const tstring& path) {
    if (throwOnFailure) {
        deleteFile(path);
    } else if (!deleteFile(path, std::nothrow)) {
        failed = true;
    }
    return true;
}

bool DeleteAllCallback::onDirectory(const tstring& path) {
    if (throwOnFailure) {
        deleteDirectoryRecursive(path);
    } else if (!deleteDirectoryRecursive(path, std::nothrow)) {
        failed = true;
    }
    return true;
}

void deleteFilesInDirectory(const tstring& dir) {
    BatchDeleter(dir).execute();
}

bool deleteFilesInDirectory(const tstring& dir, const std::nothrow_t&) {
    return BatchDeleter(dir).execute(std::nothrow);
}

void deleteDirectoryRecursive(const tstring& dir) {
    BatchDeleter(dir).recursive(true).execute();
}

bool deleteDirectoryRecursive(const tstring& dir, const std::nothrow_t&) {
    return BatchDeleter(dir).recursive(true).execute(std::nothrow);
}

namespace TestHooks {

void setTickCountSource(DWORD (*source)()) {
    tickCountSource = source;
}

void setBeforeTempDirectoryCreated(void (*hook)(const tstring& path)) {
    beforeTempDirectoryCreated = hook;
}

}  // namespace TestHooks

}  // namespace FileUtils
