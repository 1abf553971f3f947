#pragma once

#include <cstddef>
#include <cstdint>

// Moving bytes into a file by the kernel where it can, through this process
// where it cannot.
namespace FileCopy {

// Copies up to `count` bytes at `in` of `from` to `out` of `to` without this
// process reading or writing a byte (page cache to page cache, or shared
// extents where the file system has them), and returns how many it copied.
// Fewer when the system cannot copy between these two files (then
// `unsupported` is set, and stays set for the caller's later calls) or the
// source ends early: the caller writes the rest itself. A real failure (a
// full disk, an error of the device) is returned in `error`, else 0.
std::uint64_t byKernel(int from, std::uint64_t in, int to, std::uint64_t out, std::uint64_t count,
                       bool& unsupported, int& error);

// Writes all of it at `offset`; returns 0 or the errno of the failure.
int writeAll(int fd, std::uint64_t offset, const void* data, std::uint64_t count);

}  // namespace FileCopy
