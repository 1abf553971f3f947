#include "PackageFolder.h"

#include <shlwapi.h>

#include <cstring>
#include <memory>

#include "Log.h"
#include "MappedFile.h"
#include "PrivateFolderSecurity.h"
#include "WinErrorHandling.h"
#include "WinFileUtils.h"

namespace FileUtils {

namespace {

void (*beforePackageHeld)(const tstring&) = nullptr;

// How long the removal waits for another process to let go of the package.
const DWORD removalRetries = 50;
const DWORD removalRetryPauseMs = 100;

bool isElevated() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        BM_THROW_SYSERROR("OpenProcessToken() failed", OpenProcessToken);
    }
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
        BM_THROW_SYSERROR("GetTokenInformation(TokenElevation) failed", GetTokenInformation);
    }
    return elevation.TokenIsElevated != 0;
}

tstring createFolder(const tstring& baseDir) {
    if (!isElevated()) {
        return createTempDirectory(tstring(), L".tmp", baseDir);
    }
    PrivateFolderSecurity security;
    return createTempDirectory(tstring(), L".tmp", baseDir, security.get());
}

// Opens `path` only to learn what it leads to; every sharing mode is granted,
// so this never stands in anybody's way.
UniqueHandle openForIdentity(const tstring& path, bool directory) {
    return UniqueHandle(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, directory ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr));
}

bool leadsTo(const tstring& path, bool directory, const FileId& id) {
    const UniqueHandle h = openForIdentity(path, directory);
    if (!h) {
        return false;
    }
    try {
        return FileId::of(h.get(), path) == id;
    } catch (const std::runtime_error&) {
        return false;
    }
}

}  // namespace

PackageFolder::PackageFolder(const tstring& baseDir) : dir(createFolder(baseDir)), remover(dir) {
    // Without FILE_SHARE_DELETE: nobody can rename or delete the folder
    // while this handle is open.
    dirHandle.reset(CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dirHandle) {
        BM_THROW_SYSERROR("CreateFile(" << dir << ") failed", CreateFileW);
    }
    dirId = FileId::of(dirHandle.get(), dir);
    // The name may have changed hands between the creation and the opening.
    if (!PathIsDirectoryEmptyW(dir.c_str())) {
        BM_THROW_MSG("[" << dir << "] is not the empty folder this program created");
    }
}

tstring PackageFolder::addPackage(const tstring& name, const void* data, size_t size) {
    packagePath = joinPath(dir, name);
    FileId written;
    {
        StagedFileWriter writer(packagePath);
        writer.write(data, size);
        written = writer.finalize();
    }
    if (beforePackageHeld) {
        beforePackageHeld(packagePath);
    }
    // Reading only, shared with readers only: msiexec's own opening asks for
    // no more, and nobody can write, rename or delete the file while this
    // handle is open. The writer's handle could not stay, as it may write.
    packageHandle.reset(CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!packageHandle) {
        BM_THROW_SYSERROR(
            "Cannot hold [" << packagePath << "] against changes: another process has it open",
            CreateFileW);
    }
    packageId = FileId::of(packageHandle.get(), packagePath);

    // Between the writer's close and the opening above another process may
    // have replaced the file or written to it and let go again.
    const char* const changed = "] was changed by another process before msiexec started";
    LARGE_INTEGER fileSize = {};
    if (!GetFileSizeEx(packageHandle.get(), &fileSize)) {
        BM_THROW_SYSERROR("GetFileSizeEx(" << packagePath << ") failed", GetFileSizeEx);
    }
    if (packageId != written || static_cast<unsigned long long>(fileSize.QuadPart) != size) {
        BM_THROW_MSG("[" << packagePath << changed);
    }
    // Compared through a mapping of the held file: reading it into a buffer
    // would copy every byte once more (twice the time at 512 MiB under Wine).
    const MappedFile held(packageHandle.get(), packagePath);
    if (size > 0 && std::memcmp(held.data(), data, size) != 0) {
        BM_THROW_MSG("[" << packagePath << changed);
    }
    LOG_TRACE("Holding [" << packagePath << "] file");
    return packagePath;
}

void PackageFolder::verify(const char* when) const {
    if (!leadsTo(dir, true, dirId)) {
        BM_THROW_MSG("[" << dir << "] was moved or replaced by another process " << when);
    }
    if (packageHandle && !leadsTo(packagePath, false, packageId)) {
        BM_THROW_MSG("[" << packagePath << "] was moved or replaced by another process " << when);
    }
}

PackageFolder::Remover::~Remover() {
    try {
        // Another process may still read the package for a moment after
        // msiexec has ended.
        for (DWORD attempt = 0;; ++attempt) {
            if (deleteDirectoryRecursive(dir, std::nothrow)) {
                return;
            }
            if (attempt + 1 >= removalRetries) {
                break;
            }
            Sleep(removalRetryPauseMs);
        }
        LOG_WARNING("[" << dir
                        << "] directory could not be deleted: another process still has "
                           "a file in it open. It stays behind");
    }
    BM_GUARD_CATCH
}

namespace TestHooks {

void setBeforePackageHeld(void (*hook)(const tstring& path)) {
    beforePackageHeld = hook;
}

}  // namespace TestHooks

}  // namespace FileUtils
