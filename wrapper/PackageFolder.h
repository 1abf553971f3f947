#pragma once

#include <windows.h>

#include <cstddef>

#include "UniqueHandle.h"
#include "tstrings.h"

namespace FileUtils {

// A new temporary folder for one package, reached through the handle of its
// creation until it is removed, and the package in it, held from the moment
// it is complete.
//
// The folder is created and opened in one step, never through a link or
// junction, and held without delete sharing: nobody can rename or delete it,
// and every other opener of it must share deletion. The package is created
// in it through the folder's handle; while it is held nobody can write to
// it, rename it or delete it. Readers are welcome: msiexec opens the package
// for reading, shared with readers only. When the process runs elevated, the
// folder admits only SYSTEM, the Administrators group and the current user,
// and nothing below High integrity may write to it.
//
// Every path handed out is the one the system gives for the handle held, and
// each check compares that path with the handle: what another process swaps
// in shows as a mismatch, under Windows and under Wine.
//
// When it ends, the folder is removed through its handle, and what is in it
// through handles opened from it: a link found there is deleted itself, never
// followed. While another process still has a file in it open, the removal is
// retried for a few seconds; a folder that stays behind is reported at
// WARNING.
class PackageFolder {
public:
    // A "<number>.tmp" folder in `baseDir`.
    explicit PackageFolder(const tstring& baseDir);
    ~PackageFolder();

    PackageFolder(const PackageFolder&) = delete;
    PackageFolder& operator=(const PackageFolder&) = delete;

    // The folder's path as the system gives it for the handle.
    const tstring& path() const { return dirPath; }

    // Writes `data` as the new file `name` (an 8.3 name) in the folder and
    // holds it. Raises unless the file held is the one written, with exactly
    // these bytes. Returns the path to hand to msiexec (pathForMsiexec).
    tstring addPackage(const tstring& name, const void* data, size_t size);

    // Raises when the folder's or the package's path no longer leads to the
    // folder and file held. `when` completes the message, as in
    // "before msiexec started".
    void verify(const tstring& when) const;

private:
    void remove() noexcept;

    // The folder's final path in the "\\?\" form and as others take it.
    tstring dirFinal;
    tstring dirPath;
    // The short form of dirFinal, where msiexec is given that.
    tstring dirShort;
    UniqueHandle dirHandle;
    // Set once the folder is known to be the one created: only then is it
    // removed.
    bool owned = false;
    tstring packageFinal;
    tstring packagePath;
    UniqueHandle packageHandle;
};

// The path msiexec is given for `name` in the folder at `folder`: that path
// where it is shorter than MAX_PATH, else the folder's short form
// `shortFolder` where that is short enough and leads to the folder held
// (`shortIsHeld`, compared by file index); nothing otherwise. Past MAX_PATH
// Windows Installer is not known to open a package.
tstring pathForMsiexec(const tstring& folder, const tstring& shortFolder, bool shortIsHeld,
                       const tstring& name);

namespace TestHooks {

// Called with the package's path after the writer has closed it and before
// it is held.
void setBeforePackageHeld(void (*hook)(const tstring& path));

}  // namespace TestHooks

}  // namespace FileUtils
