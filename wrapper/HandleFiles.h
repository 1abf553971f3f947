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

// GetFinalPathNameByHandleW, or a stand-in with its contract.
typedef DWORD(WINAPI* FinalPathQuery)(HANDLE, LPWSTR, DWORD, DWORD);

// The final path as `query` gives it: normalized where the file system
// allows it, else as it was opened (some network servers refuse to
// normalize, which takes list access to every parent folder). False, with
// the error set, when neither is given.
bool finalPathBy(FinalPathQuery query, HANDLE handle, tstring& path);

// `path` without the "\\?\" prefix, as other programs take a path:
// "\\?\C:\x" becomes "C:\x", "\\?\UNC\server\share\x" "\\server\share\x".
tstring plainPath(const tstring& path);

// `name` in the folder at `folder`, with one separator between them also
// where the folder is the root of a drive or share and its path ends in one.
tstring childPath(const tstring& folder, const tstring& name);

// Whether a path leads to the object a handle is open on.
enum class Identity {
    // Itself, not through a link, and the system spells both paths alike.
    Same,
    // Something else is there, or a link: only another process can have
    // put it there.
    Other,
    // Nothing could be opened there, or the same object under another
    // spelling: no proof either way.
    Unknown,
};

// What was seen of a held object and of what a path leads to.
struct Sighting {
    DWORD heldAttributes = 0;
    ULONGLONG heldIndex = 0;
    // The held object's final path is the expected one.
    bool heldSpelledAlike = false;
    // The held object's final path lies in another folder than the
    // expected one: the folders' indexes differ. It was moved, or reached
    // through a link.
    bool heldElsewhere = false;
    // INVALID_FILE_ATTRIBUTES when the path leads nowhere.
    DWORD pathAttributes = INVALID_FILE_ATTRIBUTES;
    bool pathOpened = false;
    ULONGLONG pathIndex = 0;
    bool pathSpelledAlike = false;
};

Identity judge(const Sighting& seen);

// Whether `path` leads to the object `handle` is open on, itself, whose final
// path is `final`: not a link, not a target reached through one, not moved.
// Windows would need only the first test; Wine opens the target of a link
// whatever the flags say and keeps a moved object's old path, so the others
// are what shows a substitution there. The same index under the same final
// path is the same object: the path names the volume.
Identity identityAt(HANDLE handle, const tstring& final, const tstring& path);

inline bool isExactly(HANDLE handle, const tstring& final) {
    return identityAt(handle, final, final) == Identity::Same;
}

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
