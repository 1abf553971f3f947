#pragma once

#include <cstdint>
#include <string>

#include "InputFile.h"

// Shared with OutputFile, which copies ranges of the mapped file from its
// descriptor.
struct InputFile::Impl {
    std::string path;
    // Open for as long as the mapping lives: the same file, whatever happens
    // to its path meanwhile.
    int fd = -1;
    void* mapping = nullptr;
    std::uint64_t size = 0;
};

struct InputFileAccess {
    static int descriptor(const InputFile& file) { return file.impl->fd; }
};
