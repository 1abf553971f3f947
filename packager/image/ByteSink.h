#pragma once

#include <cstddef>
#include <cstdint>

namespace image {

// Where the core writes a file: bytes are appended, and a few written ones
// are mended afterwards (sizes, the checksum). Each platform has its own;
// the tests write to memory.
class ByteSink {
public:
    virtual ~ByteSink() = default;

    virtual void append(const void* data, std::size_t size) = 0;
    // Overwrites bytes already appended: offset + size <= size().
    virtual void patch(std::uint64_t offset, const void* data, std::size_t size) = 0;
    virtual std::uint64_t size() const = 0;
};

}  // namespace image
