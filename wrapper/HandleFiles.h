#pragma once

// Files and folders reached through the handle of the folder they are in,
// never through a path that another process could change in between: what
// the setup program needs to make, check and remove its package folder.

#include <windows.h>

#include <vector>

#include "UniqueHandle.h"
#include "tstrings.h"

namespace FileUtils {

// Opens or creates `name` in the folder held by `folder` (NtCreateFile with
// that folder as root), never following a link or junction at the name: with
// FILE_OPEN_REPARSE_POINT among `options` Windows opens the link itself.
// Returns an empty owner and sets `error` to the system error on failure.
UniqueHandle openAt(HANDLE folder, const tstring& name, ACCESS_MASK access, ULONG share,
                    ULONG disposition, ULONG options, DWORD& error,
                    PSECURITY_DESCRIPTOR security = nullptr);

// The path the system gives for what `handle` is open on, in the "\\?\" form
// that takes any length. `path` names it in errors.
tstring finalPathOf(HANDLE handle, const tstring& path);

// `path` without the "\\?\" prefix, as other programs take a path.
tstring plainPath(const tstring& path);

// Whether `handle` is open on the object at `path` (a final path) itself and
// that path still leads to it: not a link, not a target reached through one,
// not moved. Windows would need only the first test; Wine opens the target
// of a link whatever the flags say and keeps a moved object's old path, so
// the others are what shows a substitution there.
bool isExactly(HANDLE handle, const tstring& path);

// The number of the file `handle` is open on within its volume. Cheap, where
// the volume's serial number takes milliseconds under Wine; for handles known
// to be on one volume. `path` names the file in errors.
ULONGLONG fileIndexOf(HANDLE handle, const tstring& path);

struct FolderEntry {
    tstring name;
    DWORD attributes;
};

// Everything in the folder held by `folder`, without "." and "..", read
// through a new handle opened from that one (not by path). `path` names the
// folder in errors.
std::vector<FolderEntry> listFolder(HANDLE folder, const tstring& path);

// Marks what `handle` is open on (with DELETE access) for deletion; it goes
// when the last handle to it is closed, or at once where POSIX semantics are
// available. A read-only file loses the attribute first. Returns the system
// error, or 0.
DWORD markForDeletion(HANDLE handle);

}  // namespace FileUtils
