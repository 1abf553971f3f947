#include "PackageFolder.h"

#include <winternl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

// How many levels of folders below the package folder the removal empties.
// Neither this program nor msiexec makes any: whatever lies deeper is another
// process's doing and stays, so that neither the time the removal takes nor
// the length of its paths is up to that process. With the longest names (255
// characters), a path 64 levels below any TEMP still fits the system's
// 32,767 characters, so the checks by path work at every level.
const size_t removalDepth = 64;

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

tstring fullPath(const tstring& given) {
    // A drive's root without its separator would be the drive's current
    // folder.
    const tstring path = given.size() == 2 && given[1] == L':' ? given + L"\\" : given;
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

// The short (8.3) form of `path`, or nothing where the volume has none or
// the system gives none.
tstring shortPathOf(const tstring& path) {
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    std::vector<wchar_t> buffer(size + 1);
    const DWORD length =
        size ? GetShortPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()))
             : 0;
    if (length == 0 || length >= buffer.size()) {
        const DWORD error = GetLastError();
        LOG_TRACE("GetShortPathName(" << path << ") gave nothing, error=" << error);
        return tstring();
    }
    return tstring(buffer.data(), length);
}

bool isFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// What a removal left, and why.
struct Leftovers {
    // Something could not be opened or deleted: worth another try.
    bool busy = false;
    // The first such thing and its error, unless it was only that another
    // process has it open.
    tstring failed;
    DWORD error = ERROR_SUCCESS;
    // The first thing not deleted on purpose, and why, completing
    // "[path] ...": waiting cannot help there.
    tstring kept;
    std::string why;

    void fail(const tstring& path, DWORD code) {
        busy = true;
        if (failed.empty() && code != ERROR_SHARING_VIOLATION) {
            failed = path;
            error = code;
        }
    }

    void keep(const tstring& path, const std::string& reason) {
        if (kept.empty()) {
            kept = path;
            why = reason;
        }
    }
};

enum class EntryKind { Gone, Left, File, Link, Folder };

// Opens the entry `entry` of `folder` from the folder, never through a link
// at its name on Windows, for deletion. Returns what it is; the handle only
// for a file, link or folder.
EntryKind openEntry(HANDLE folder, const tstring& final, const FolderEntry& entry, UniqueHandle& h,
                    Leftovers& left) {
    const bool listedAsFolder = isFolder(entry.attributes) && !isLink(entry.attributes);
    const ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE |
                               (listedAsFolder ? FILE_LIST_DIRECTORY | FILE_TRAVERSE : 0);
    // Not sharing deletion: while it is open here, nobody can rename it or
    // put something else under its name.
    DWORD error = ERROR_SUCCESS;
    h = openAt(folder, entry.name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
               openOptions | FILE_OPEN_FOR_BACKUP_INTENT, error);
    if (!h) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return EntryKind::Gone;
        }
        left.fail(plainPath(final), error);
        return EntryKind::Left;
    }
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
        left.fail(plainPath(final), GetLastError());
        return EntryKind::Left;
    }
    // Opened as itself: deleting it leaves its target alone.
    if (isLink(tag.FileAttributes)) {
        return EntryKind::Link;
    }
    // Under Wine the handle may be the target of a link; or the name changed
    // hands between the listing and the opening.
    if (!isExactly(h.get(), final) || isFolder(tag.FileAttributes) != listedAsFolder) {
        left.keep(plainPath(final), "is a link or was replaced while it was removed");
        return EntryKind::Left;
    }
    return listedAsFolder ? EntryKind::Folder : EntryKind::File;
}

// One folder being emptied: what it listed and how far the removal got.
struct Level {
    // Empty for the package folder, which is held elsewhere.
    UniqueHandle owned;
    HANDLE handle;
    tstring final;
    std::vector<FolderEntry> entries;
    size_t next;
    // Everything in it so far is gone.
    bool emptied;
};

// Deletes what is in the folder held by `folder` through handles opened from
// it, a folder after its contents, down to `removalDepth` levels. The walk
// keeps a stack of its own: how deep the folders lie is up to whoever made
// them, and each level costs a handle and the listing of one folder.
void removeContents(HANDLE folder, const tstring& folderFinal, Leftovers& left) {
    std::vector<Level> levels;
    levels.push_back(Level{UniqueHandle(), folder, folderFinal,
                           listFolder(folder, plainPath(folderFinal)), 0, true});
    for (;;) {
        if (levels.back().next == levels.back().entries.size()) {
            if (levels.size() == 1) {
                return;
            }
            const Level done = std::move(levels.back());
            levels.pop_back();
            const DWORD error = done.emptied ? markForDeletion(done.handle) : ERROR_SUCCESS;
            if (error != ERROR_SUCCESS) {
                left.fail(plainPath(done.final), error);
            }
            if (!done.emptied || error != ERROR_SUCCESS) {
                levels.back().emptied = false;
            } else {
                LOG_TRACE("Deleted [" << plainPath(done.final) << "] directory");
            }
            continue;
        }
        Level& level = levels.back();
        const tstring final = childPath(level.final, level.entries[level.next].name);
        UniqueHandle h;
        const EntryKind kind = openEntry(level.handle, final, level.entries[level.next], h, left);
        ++level.next;
        if (kind == EntryKind::Gone) {
            continue;
        }
        if (kind == EntryKind::Left) {
            level.emptied = false;
        } else if (kind == EntryKind::Folder && levels.size() > removalDepth) {
            left.keep(plainPath(final), (tstrings::MessageBuilder()
                                         << "lies more than " << removalDepth << " folders deep")
                                            .str());
            level.emptied = false;
        } else if (kind == EntryKind::Folder) {
            std::vector<FolderEntry> entries = listFolder(h.get(), plainPath(final));
            const HANDLE inner = h.get();
            // The push may move `level`: it is not used after it.
            levels.push_back(Level{std::move(h), inner, final, std::move(entries), 0, true});
        } else if (const DWORD error = markForDeletion(h.get())) {
            left.fail(plainPath(final), error);
            level.emptied = false;
        } else {
            LOG_TRACE("Deleted [" << plainPath(final) << "] "
                                  << (kind == EntryKind::Link ? "link" : "file"));
        }
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
    const tstring expected = childPath(baseFinal, name);
    switch (identityAt(dirHandle.get(), expected, expected)) {
        case Identity::Same:
            break;
        case Identity::Other:
            BM_THROW_MSG("[" << joinPath(base, name)
                             << "] is not the folder this program created: another process put "
                                "something else in its place");
        case Identity::Unknown:
            BM_THROW_MSG("[" << joinPath(base, name)
                             << "] cannot be found again by the path the system gives for it ["
                             << plainPath(expected) << "]");
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
    const tstring final = childPath(dirFinal, name);
    const tstring path = plainPath(final);
    // Known before anything is written: a run that cannot start msiexec
    // should not write the package first.
    tstring shortFolder;
    bool shortIsHeld = false;
    if (path.size() >= MAX_PATH) {
        shortFolder = shortPathOf(dirFinal);
        shortIsHeld = !shortFolder.empty() &&
                      identityAt(dirHandle.get(), dirFinal, shortFolder) == Identity::Same;
    }
    const tstring forMsiexec = pathForMsiexec(dirPath, plainPath(shortFolder), shortIsHeld, name);
    if (forMsiexec.empty()) {
        BM_THROW_MSG("[" << path << "] is longer than " << MAX_PATH - 1
                         << " characters, which Windows Installer may not take, and the volume "
                            "gives no shorter name for it: set TEMP to a shorter folder");
    }
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
    const Identity identity = identityAt(packageHandle.get(), final, final);
    if (identity == Identity::Other || fileIndexOf(packageHandle.get(), path) != written) {
        BM_THROW_MSG("[" << path << changed);
    }
    if (identity == Identity::Unknown) {
        BM_THROW_MSG("[" << path << "] cannot be found again by its path before msiexec started");
    }
    // Compared through a mapping of the held file: reading it into a buffer
    // would copy every byte once more (twice the time at 512 MiB under Wine).
    const MappedFile held(packageHandle.get(), path);
    if (held.size() != size || (size > 0 && std::memcmp(held.data(), data, size) != 0)) {
        BM_THROW_MSG("[" << path << changed);
    }
    packageFinal = final;
    packagePath = path;
    if (forMsiexec != path) {
        dirShort = shortFolder;
    }
    LOG_TRACE("Holding [" << packagePath << "] file");
    return forMsiexec;
}

void PackageFolder::verify(const tstring& when) const {
    const auto check = [&](HANDLE handle, const tstring& final, const tstring& path,
                           const tstring& shown) {
        switch (identityAt(handle, final, path)) {
            case Identity::Same:
                return;
            case Identity::Other:
                BM_THROW_MSG("[" << shown << "] was moved or replaced by another process " << when);
            case Identity::Unknown:
                BM_THROW_MSG("[" << shown << "] cannot be found again by its path " << when);
        }
    };
    check(dirHandle.get(), dirFinal, dirFinal, dirPath);
    if (!dirShort.empty()) {
        check(dirHandle.get(), dirFinal, dirShort, plainPath(dirShort));
    }
    if (packageHandle) {
        check(packageHandle.get(), packageFinal, packageFinal, packagePath);
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
            switch (identityAt(dirHandle.get(), dirFinal, dirFinal)) {
                case Identity::Same:
                    break;
                case Identity::Other:
                    LOG_WARNING("[" << dirPath
                                    << "] directory is not deleted: another process moved it or "
                                       "put something else in its place. It stays behind");
                    return;
                case Identity::Unknown:
                    LOG_WARNING("["
                                << dirPath
                                << "] directory is not deleted: it cannot be found again by its "
                                   "path. It stays behind");
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
            LOG_WARNING("[" << dirPath << "] directory could not be deleted: [" << left.kept << "] "
                            << left.why << ", and is not followed. It stays behind");
        } else if (!left.failed.empty()) {
            LOG_WARNING("[" << dirPath << "] directory could not be deleted: [" << left.failed
                            << "] could not be deleted (error " << left.error
                            << "). It stays behind");
        } else {
            LOG_WARNING("[" << dirPath
                            << "] directory could not be deleted: another process still has "
                               "a file in it open. It stays behind");
        }
    }
    BM_GUARD_CATCH
}

tstring pathForMsiexec(const tstring& folder, const tstring& shortFolder, bool shortIsHeld,
                       const tstring& name) {
    const tstring full = childPath(folder, name);
    if (full.size() < MAX_PATH) {
        return full;
    }
    const tstring shorter = childPath(shortFolder, name);
    if (shortIsHeld && !shortFolder.empty() && shorter.size() < MAX_PATH) {
        return shorter;
    }
    return tstring();
}

namespace TestHooks {

void setBeforePackageHeld(void (*hook)(const tstring& path)) {
    beforePackageHeld = hook;
}

}  // namespace TestHooks

}  // namespace FileUtils
