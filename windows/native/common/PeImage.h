#pragma once

#include <windows.h>

#include <cstdint>

#include "tstrings.h"

// Reads and mends the headers of a Portable Executable file on disk.
namespace PeImage {

struct Headers {
    WORD machine = 0;
    // IMAGE_NT_OPTIONAL_HDR64_MAGIC for a PE32+ image.
    WORD magic = 0;
    WORD subsystem = 0;
    DWORD checksum = 0;
    // Size of the certificate table: non-zero for a signed file.
    DWORD certificateSize = 0;
    // File offset of the optional header's CheckSum field.
    DWORD checksumOffset = 0;
};

// Raises when the file cannot be read or is no PE file (the words then say so,
// naming the path).
Headers readHeaders(const tstring& path);

// True for an x64 (PE32+) image of the Windows GUI subsystem.
bool isGuiImage64(const Headers& headers);

// The checksum the image loader and signing tools expect: the 16-bit one's
// complement sum of the file, the CheckSum field taken as zero, plus the file
// size.
DWORD computeChecksum(const tstring& path);

// The same sum over bytes fed in pieces of any size, for a file being
// written; the caller feeds the CheckSum field as zero.
class Checksum {
public:
    void add(const void* data, size_t size);
    DWORD value() const;

private:
    std::uint64_t sum = 0;
    std::uint64_t total = 0;
    std::uint32_t word = 0;
    unsigned filled = 0;
};

}  // namespace PeImage
