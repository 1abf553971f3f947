#pragma once

#include <windows.h>

#include <cstddef>

#include "StagedFileWriter.h"
#include "UniqueHandle.h"
#include "tstrings.h"

namespace FileUtils {

// A new temporary folder for one package, held from its creation until it is
// removed, and the package in it, held from the moment it is complete.
//
// While the folder's handle is open nobody can rename or delete the folder;
// while the package's handle is open nobody can write to it, rename it or
// delete it. Readers are welcome: msiexec opens the package for reading,
// shared with readers only. When the process runs elevated, the folder admits
// only SYSTEM, the Administrators group and the current user.
//
// When it ends, the folder is removed; while another process still has the
// package open, the removal is retried for a few seconds, and a folder that
// stays behind is reported at WARNING.
class PackageFolder {
public:
    // A "<number>.tmp" folder in `baseDir`.
    explicit PackageFolder(const tstring& baseDir);

    PackageFolder(const PackageFolder&) = delete;
    PackageFolder& operator=(const PackageFolder&) = delete;

    const tstring& path() const { return dir; }

    // Writes `data` as the file `name` in the folder and holds it. Raises
    // unless the file held is the one written, with exactly these bytes.
    tstring addPackage(const tstring& name, const void* data, size_t size);

    // Raises when the folder's or the package's path no longer leads to the
    // folder and file held. `when` completes the message, as in
    // "before msiexec started".
    void verify(const char* when) const;

private:
    // Removes the folder when the handles are closed, the holder's last member
    // to end.
    class Remover {
    public:
        explicit Remover(const tstring& dir) : dir(dir) {}
        ~Remover();
        Remover(const Remover&) = delete;
        Remover& operator=(const Remover&) = delete;

    private:
        tstring dir;
    };

    tstring dir;
    Remover remover;
    UniqueHandle dirHandle;
    FileId dirId;
    tstring packagePath;
    UniqueHandle packageHandle;
    FileId packageId;
};

namespace TestHooks {

// Called with the package's path after the writer has closed it and before
// it is held.
void setBeforePackageHeld(void (*hook)(const tstring& path));

}  // namespace TestHooks

}  // namespace FileUtils
