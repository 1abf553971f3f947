#pragma once

#include <cstddef>
#include <fstream>

#include "ScopedDeleter.h"
#include "tstrings.h"

namespace FileUtils {

// Writes a file under a temporary name beside its destination and moves it
// into place only when finalized, so the destination is either replaced
// whole or left exactly as it was. Stream failures raise.
class StagedFileWriter {
public:
    explicit StagedFileWriter(const tstring& dstPath);

    StagedFileWriter(const StagedFileWriter&) = delete;
    StagedFileWriter& operator=(const StagedFileWriter&) = delete;

    void write(const void* data, size_t size);

    // Replaces the destination with what was written.
    void finalize();

private:
    // Declared in this order so that the stream is closed before the deleter
    // removes the unfinished file.
    tstring tmpPath;
    ScopedDeleter cleaner;
    std::ofstream stream;
    tstring dstPath;
};

}  // namespace FileUtils
