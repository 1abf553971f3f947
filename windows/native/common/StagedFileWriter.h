#pragma once

#include <windows.h>

#include <cstddef>

#include "ScopedDeleter.h"
#include "UniqueHandle.h"
#include "tstrings.h"

namespace FileUtils {

// Which file a handle refers to, whatever its name is now.
struct FileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;

    // The identity of the file or directory `handle` refers to.
    static FileId of(HANDLE handle, const tstring& path);

    bool operator==(const FileId& other) const {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
    bool operator!=(const FileId& other) const { return !(*this == other); }
};

// Writes all of `data` through `file` in pieces of a megabyte. A failure
// raises with the system's reason, naming `path`.
void writeAll(HANDLE file, const void* data, size_t size, const tstring& path);

// Writes a file under a temporary name beside its destination and moves it
// into place only when finalized, so the destination is either replaced
// whole or left exactly as it was. From its creation until it is finalized
// the file admits readers only: no other process can write through a handle
// of its own, not even after the move. Write failures raise with the
// system's reason.
class StagedFileWriter {
public:
    explicit StagedFileWriter(const tstring& dstPath);

    StagedFileWriter(const StagedFileWriter&) = delete;
    StagedFileWriter& operator=(const StagedFileWriter&) = delete;

    void write(const void* data, size_t size);

    // Replaces the destination with what was written and returns the identity
    // of the file now under the destination's name.
    FileId finalize();

private:
    // Declared in this order so that the file is closed before the deleter
    // removes the unfinished file.
    tstring tmpPath;
    ScopedDeleter cleaner;
    UniqueHandle file;
    tstring dstPath;
};

}  // namespace FileUtils
