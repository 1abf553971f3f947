#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "InputFile.h"

// Shared with OutputFile, which copies ranges of the mapped file from its
// descriptor, and with the package reader, which hands the descriptor over.
struct InputFile::Impl {
    std::string path;
    // Open for as long as the object lives: the same file, whatever happens
    // to its path meanwhile.
    int fd = -1;
    void* mapping = nullptr;
    std::uint64_t size = 0;
    // What the file was when it was opened, to tell whether it changed.
    struct stat opened = {};
    int faultTicket = -1;
};

struct InputFileAccess {
    static int descriptor(const InputFile& file) { return file.impl->fd; }

    // Raises a ToolError, "'path' changed while it was read", when the
    // file's size, modification time or identity (inode, device) are no
    // longer those it was opened with.
    static void requireUnchanged(const InputFile& file);

    // The same for every input open in the process: what an output is made
    // of is checked before the output is put in place.
    static void requireAllUnchanged();
};
