#include "PackageFolder.h"

#include <winternl.h>

#include <cstring>
#include <memory>

#include "HandleFiles.h"
#include "Log.h"
#include "MappedFile.h"
#include "PrivateFolderSecurity.h"
#include "StagedFileWriter.h"
#include "WinErrorHandling.h"
#include "WinFileUtils.h"

namespace FileUtils {

namespace {

void (*beforePackageHeld)(const tstring&) = nullptr;

// How long the removal waits for another process to let go of a file.
const DWORD removalRetries = 50;
const DWORD removalRetryPauseMs = 100;

// How many names the creation tries, counting up from the tick count.
const DWORD nameAttempts = 100;

// Listing is reading: every opener of the folder must share reading, as
// everybody does. DELETE, for the removal through this handle, makes every
// opener share deletion too; not sharing it is what keeps the folder in place.
const ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                 DELETE | READ_CONTROL | SYNCHRONIZE;
const ULONG folderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Synchronous, and on a link the link itself.
const ULONG openOptions = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;

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

tstring fullPath(const tstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::vector<wchar_t> buffer(size + 1);
    const DWORD length = size ? GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                                                 buffer.data(), nullptr)
                              : 0;
    if (length == 0 || length >= buffer.size()) {
        BM_THROW_SYSERROR("GetFullPathName(" << path << ") failed", GetFullPathNameW);
    }
    return tstring(buffer.data(), length);
}

// The "\\?\" form, which takes paths of any length.
tstring extendedPath(const tstring& fullPath) {
    if (tstrings::startsWith(fullPath, L"\\\\?\\") || tstrings::startsWith(fullPath, L"\\\\.\\")) {
        return fullPath;
    }
    if (tstrings::startsWith(fullPath, L"\\\\")) {
        return L"\\\\?\\UNC\\" + fullPath.substr(2);
    }
    return L"\\\\?\\" + fullPath;
}

bool isFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// What a removal left, and why.
struct Leftovers {
    // Another process has something open: worth another try.
    bool busy = false;
    // Something that is not deleted on purpose: a link that could only be
    // reached through its target, or a name swapped while it was looked at.
    tstring kept;
};

void removeContents(HANDLE folder, const tstring& folderFinal, Leftovers& left);

// Deletes the entry `entry` of `folder` through a handle opened from the
// folder: a link as itself (Windows), a folder after its contents.
void removeEntry(HANDLE folder, const tstring& folderFinal, const FolderEntry& entry,
                 Leftovers& left) {
    const tstring final = folderFinal + L"\\" + entry.name;
    const bool listedAsFolder = isFolder(entry.attributes) && !isLink(entry.attributes);
    const ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE |
                               (listedAsFolder ? FILE_LIST_DIRECTORY | FILE_TRAVERSE : 0);
    // Not sharing deletion: while it is open here, nobody can rename it or
    // put something else under its name.
    DWORD error = ERROR_SUCCESS;
    const UniqueHandle h = openAt(folder, entry.name, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  FILE_OPEN, openOptions | FILE_OPEN_FOR_BACKUP_INTENT, error);
    if (!h) {
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            left.busy = true;
        }
        return;
    }
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
        left.busy = true;
        return;
    }
    const char* kind = "file";
    if (isLink(tag.FileAttributes)) {
        // Opened as itself: deleting it leaves its target alone.
        kind = "link";
    } else if (!isExactly(h.get(), final) || isFolder(tag.FileAttributes) != listedAsFolder) {
        // Under Wine the handle is the target of a link; or the name changed
        // hands between the listing and the opening.
        if (left.kept.empty()) {
            left.kept = plainPath(final);
        }
        return;
    } else if (listedAsFolder) {
        kind = "directory";
        Leftovers inner;
        removeContents(h.get(), final, inner);
        if (inner.busy || !inner.kept.empty()) {
            left.busy = left.busy || inner.busy;
            if (left.kept.empty()) {
                left.kept = inner.kept;
            }
            return;
        }
    }
    error = markForDeletion(h.get());
    if (error != ERROR_SUCCESS) {
        left.busy = true;
        return;
    }
    LOG_TRACE("Deleted [" << plainPath(final) << "] " << kind);
}

void removeContents(HANDLE folder, const tstring& folderFinal, Leftovers& left) {
    for (const FolderEntry& entry : listFolder(folder, plainPath(folderFinal))) {
        removeEntry(folder, folderFinal, entry, left);
    }
}

}  // namespace

PackageFolder::PackageFolder(const tstring& baseDir) {
    const tstring base = fullPath(baseDir);
    // Only to create the folder in and to learn the base's final path; it
    // stands in nobody's way.
    const UniqueHandle baseHandle(
        CreateFileW(extendedPath(base).c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!baseHandle) {
        BM_THROW_SYSERROR("CreateFile(" << base << ") failed", CreateFileW);
    }
    const tstring baseFinal = finalPathOf(baseHandle.get(), base);

    std::unique_ptr<PrivateFolderSecurity> security;
    if (isElevated()) {
        security.reset(new PrivateFolderSecurity());
    }
    // Created and opened in one step: the handle is the folder made, and no
    // moment passes in which another process could put something else under
    // its name. An existing name, a link among them, is skipped.
    const DWORD tick = GetTickCount();
    DWORD error = ERROR_SUCCESS;
    tstring name;
    for (DWORD i = 0; i < nameAttempts && !dirHandle; ++i) {
        name = (tstrings::MessageBuilder() << static_cast<int>(tick + i) << ".tmp").tstr();
        dirHandle =
            openAt(baseHandle.get(), name, folderAccess, folderShare, FILE_CREATE,
                   FILE_DIRECTORY_FILE | openOptions, error, security ? security->get() : nullptr);
        if (!dirHandle && error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            BM_THROW_SYSERROR_CODE("NtCreateFile(" << joinPath(base, name) << ") failed",
                                   CreateFileW, error);
        }
    }
    if (!dirHandle) {
        BM_THROW_SYSERROR_CODE("createTempDirectory(, .tmp, " << base << ") failed", CreateFileW,
                               error);
    }
    // Wine makes the folder and then opens it by name, following a link that
    // another process put there in between; the path shows it.
    const tstring expected = baseFinal + L"\\" + name;
    if (!isExactly(dirHandle.get(), expected)) {
        BM_THROW_MSG("[" << joinPath(base, name)
                         << "] is not the folder this program created: another process put "
                            "something else in its place");
    }
    dirFinal = expected;
    dirPath = plainPath(dirFinal);
    owned = true;
    LOG_TRACE("Created [" << dirPath << "] directory");
    try {
        if (!listFolder(dirHandle.get(), dirPath).empty()) {
            BM_THROW_MSG("[" << dirPath << "] is not the empty folder this program created");
        }
    } catch (...) {
        remove();
        throw;
    }
}

PackageFolder::~PackageFolder() {
    remove();
}

tstring PackageFolder::addPackage(const tstring& name, const void* data, size_t size) {
    const tstring final = dirFinal + L"\\" + name;
    const tstring path = plainPath(final);
    ULONGLONG written = 0;
    {
        // Written through the handle that made it, which admits readers only:
        // nobody takes a handle to write through while it is being written.
        DWORD error = ERROR_SUCCESS;
        UniqueHandle writer =
            openAt(dirHandle.get(), name, GENERIC_WRITE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                   FILE_SHARE_READ, FILE_CREATE,
                   FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY | openOptions, error);
        if (!writer) {
            BM_THROW_SYSERROR_CODE("NtCreateFile(" << path << ") failed", CreateFileW, error);
        }
        LOG_TRACE("Created [" << path << "] file");
        writeAll(writer.get(), data, size, path);
        written = fileIndexOf(writer.get(), path);
        // Closing is where a delayed write error would show.
        if (!CloseHandle(writer.release())) {
            BM_THROW_SYSERROR("CloseHandle(" << path << ") failed", CloseHandle);
        }
    }
    if (beforePackageHeld) {
        beforePackageHeld(path);
    }
    // Reading only, shared with readers only: msiexec's own opening asks for
    // no more, and nobody can write, rename or delete the file while this
    // handle is open. The writer's handle could not stay, as it may write.
    DWORD error = ERROR_SUCCESS;
    packageHandle =
        openAt(dirHandle.get(), name, GENERIC_READ | SYNCHRONIZE, FILE_SHARE_READ, FILE_OPEN,
               FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY | openOptions, error);
    if (!packageHandle) {
        if (error == ERROR_SHARING_VIOLATION) {
            BM_THROW_SYSERROR_CODE(
                "Cannot hold [" << path << "] against changes: another process has it open",
                CreateFileW, error);
        }
        BM_THROW_SYSERROR_CODE("NtCreateFile(" << path << ") failed", CreateFileW, error);
    }

    // Between the writer's close and the opening above another process may
    // have replaced the file, put a link in its place or written to it and
    // let go again.
    const char* const changed = "] was changed by another process before msiexec started";
    // In the held folder and not through a link: on the same volume.
    if (!isExactly(packageHandle.get(), final) ||
        fileIndexOf(packageHandle.get(), path) != written) {
        BM_THROW_MSG("[" << path << changed);
    }
    // Compared through a mapping of the held file: reading it into a buffer
    // would copy every byte once more (twice the time at 512 MiB under Wine).
    const MappedFile held(packageHandle.get(), path);
    if (held.size() != size || (size > 0 && std::memcmp(held.data(), data, size) != 0)) {
        BM_THROW_MSG("[" << path << changed);
    }
    packageFinal = final;
    packagePath = path;
    LOG_TRACE("Holding [" << packagePath << "] file");
    return packagePath;
}

void PackageFolder::verify(const tstring& when) const {
    if (!isExactly(dirHandle.get(), dirFinal)) {
        BM_THROW_MSG("[" << dirPath << "] was moved or replaced by another process " << when);
    }
    if (packageHandle && !isExactly(packageHandle.get(), packageFinal)) {
        BM_THROW_MSG("[" << packagePath << "] was moved or replaced by another process " << when);
    }
}

void PackageFolder::remove() noexcept {
    packageHandle.reset();
    if (!owned) {
        return;
    }
    owned = false;
    try {
        Leftovers left;
        for (DWORD attempt = 0; attempt < removalRetries; ++attempt) {
            if (attempt > 0) {
                Sleep(removalRetryPauseMs);
            }
            // Under Wine a folder whose parent was renamed keeps its old path,
            // and deleting through its handle would delete what is there now.
            if (!isExactly(dirHandle.get(), dirFinal)) {
                LOG_WARNING("[" << dirPath
                                << "] directory is not deleted: another process moved it or "
                                   "put something else in its place. It stays behind");
                return;
            }
            left = Leftovers();
            removeContents(dirHandle.get(), dirFinal, left);
            // What is kept is kept on purpose: waiting cannot help.
            if (!left.kept.empty()) {
                break;
            }
            // A file deleted above goes only when every process has let go
            // of it, unless POSIX semantics took its name away at once. Wine
            // lets a folder that still lists such a file be marked, and then
            // keeps it when the handle closes.
            if (!left.busy && listFolder(dirHandle.get(), dirPath).empty() &&
                markForDeletion(dirHandle.get()) == ERROR_SUCCESS) {
                dirHandle.reset();
                if (GetFileAttributesW(dirFinal.c_str()) != INVALID_FILE_ATTRIBUTES) {
                    LOG_WARNING("[" << dirPath
                                    << "] directory could not be deleted. It stays behind");
                } else {
                    LOG_TRACE("Deleted [" << dirPath << "] directory");
                }
                return;
            }
        }
        if (!left.kept.empty()) {
            LOG_WARNING("[" << dirPath << "] directory could not be deleted: [" << left.kept
                            << "] is a link or was swapped by another process, and is not "
                               "followed. It stays behind");
        } else {
            LOG_WARNING("[" << dirPath
                            << "] directory could not be deleted: another process still has "
                               "a file in it open. It stays behind");
        }
    }
    BM_GUARD_CATCH
}

namespace TestHooks {

void setBeforePackageHeld(void (*hook)(const tstring& path)) {
    beforePackageHeld = hook;
}

}  // namespace TestHooks

}  // namespace FileUtils
