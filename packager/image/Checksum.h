#pragma once

#include <cstddef>
#include <cstdint>

namespace image {

// The checksum the image loader and signing tools expect in the optional
// header: the 16-bit one's complement sum of the file's little-endian words,
// the CheckSum field taken as zero, plus the file's length. Bytes may be fed
// in pieces of any size, as a file is written.
class Checksum {
public:
    // The caller feeds the CheckSum field's four bytes as zeros.
    void add(const void* data, std::size_t size) noexcept;
    // Adds bytes that `following` summed on its own, as if they were fed
    // here next. Only where the bytes so far end on a 4-byte boundary, since
    // the words of the two sums must line up; returns false (and adds
    // nothing) elsewhere.
    bool add(const Checksum& following) noexcept;
    std::uint32_t value() const noexcept;

    // The sum of a whole image in memory, whatever its CheckSum field holds;
    // `checksumOffset` is the field's file offset (PeFile::checksumOffset()).
    static std::uint32_t of(const std::uint8_t* data, std::uint64_t size,
                            std::uint64_t checksumOffset) noexcept;

private:
    std::uint64_t sum = 0;
    std::uint64_t total = 0;
    std::uint32_t word = 0;
    unsigned filled = 0;
};

}  // namespace image
