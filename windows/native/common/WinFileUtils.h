#pragma once

#include <windows.h>

#include <new>

#include "FileUtils.h"
#include "UniqueHandle.h"
#include "tstrings.h"

// File-system operations over Win32. Every call's failure is raised as a
// located error naming the call and its arguments; every change made to the
// file system is traced with the path in square brackets.
namespace FileUtils {

bool pathExists(const tstring& path);
bool isDirectory(const tstring& path);
bool isNonEmptyDirectory(const tstring& path);

// An empty path yields the current directory.
tstring toAbsolutePath(const tstring& path);
tstring toShortPath(const tstring& path);

// The user's temporary directory without a trailing separator.
tstring getTempDirectory();

// Creates an empty file named prefix + number + suffix in baseDir and returns
// its path. The name is claimed by exclusive creation, so two processes never
// get the same one; after 100 taken names the call gives up.
// A failure carries the system error of the last attempt.
tstring createTempFile(const tstring& prefix, const tstring& suffix, const tstring& baseDir);

// The same, keeping the new file open in `keep` for writing and renaming,
// shared with readers only.
tstring createTempFile(const tstring& prefix, const tstring& suffix, const tstring& baseDir,
                       UniqueHandle* keep);

// Creates `path` itself if that name is free, else a sibling named like it
// with a number before its extension.
tstring createTempFile(const tstring& path);

// Like createTempFile but a directory, and always one this call created: a
// directory somebody else put under the chosen name is refused, never reused.
tstring createTempDirectory(const tstring& prefix, const tstring& suffix, const tstring& baseDir);

// Creates the directory and every missing ancestor; an existing directory is
// fine. Each directory created is appended to `createdDirs`, parents first.
void createDirectory(const tstring& path, tstring_array* createdDirs = nullptr);

// Both create the destination's directory first.
void copyFile(const tstring& from, const tstring& to, bool failIfExists);
void moveFile(const tstring& from, const tstring& to, bool failIfExists);

// A path that does not exist counts as deleted. A read-only file loses the
// attribute and is deleted. The no-throw forms report failure with false.
bool deleteFile(const tstring& path, const std::nothrow_t&);
void deleteFile(const tstring& path);

// The directory must be empty.
bool deleteDirectory(const tstring& path, const std::nothrow_t&);
void deleteDirectory(const tstring& path);

// Receives the entries of one directory level; returning false stops the walk.
class DirectoryCallback {
public:
    virtual ~DirectoryCallback() = default;
    virtual bool onFile(const tstring& path);
    virtual bool onDirectory(const tstring& path);
};

// Reports every entry of `dir` (one level, without "." and "..") with its full
// path, in the order the file system lists them.
void iterateDirectory(const tstring& dir, DirectoryCallback& callback);

// Deletes every file it is shown and goes on after a failure, remembering it
// in `failed` unless it was asked to raise instead.
class DeleteFilesCallback : public DirectoryCallback {
public:
    explicit DeleteFilesCallback(bool throwOnFailure) : throwOnFailure(throwOnFailure) {}
    bool onFile(const tstring& path) override;

    const bool throwOnFailure;
    bool failed = false;
};

// Also deletes every subdirectory it is shown, with all its contents.
class DeleteAllCallback : public DeleteFilesCallback {
public:
    explicit DeleteAllCallback(bool throwOnFailure) : DeleteFilesCallback(throwOnFailure) {}
    bool onDirectory(const tstring& path) override;
};

// Delete the files directly in `dir`, its subdirectories stay. A missing
// directory is not an error. The no-throw form deletes all it can and returns
// false if anything remains.
void deleteFilesInDirectory(const tstring& dir);
bool deleteFilesInDirectory(const tstring& dir, const std::nothrow_t&);

// Delete `dir` with everything in it. A directory link met on the way is
// removed itself; what it points to stays. The no-throw form deletes all it
// can and returns false if anything remains.
void deleteDirectoryRecursive(const tstring& dir);
bool deleteDirectoryRecursive(const tstring& dir, const std::nothrow_t&);

// Seams for tests that must steer what a real run leaves to chance. Passing
// nullptr restores the normal behaviour.
namespace TestHooks {

// The clock from which temporary names are numbered.
void setTickCountSource(DWORD (*source)());

// Called with the reserved name after its placeholder file is deleted and
// before the temporary directory is created in its place.
void setBeforeTempDirectoryCreated(void (*hook)(const tstring& path));

}  // namespace TestHooks

}  // namespace FileUtils
