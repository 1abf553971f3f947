#pragma once

#include <cstdint>

#include "FormatError.h"

// The container of installer packages, patches and transforms: a small file
// system inside one file (sectors chained through allocation tables, a
// directory tree of storages and streams). The installer library trusts its
// structure; a damaged or hostile one crashes it or exhausts memory before it
// can say anything, so the tool checks the structure first.
namespace image {
namespace CompoundFile {

enum class Kind { Package, Patch, Transform, Other };

// The eight-byte compound file signature at the start.
bool hasSignature(const std::uint8_t* data, std::uint64_t size);

// Walks the whole structure, in time and memory linear in `size`, and raises
// image::FormatError with words that say what is wrong (never the file's
// name: the caller adds it): the header, the allocation tables and the
// directory within the file and free of loops, every stream's sectors long
// enough for its size and inside the file. Returns what the root storage's
// class identifier says the file is.
Kind check(const std::uint8_t* data, std::uint64_t size);

// "an installer package", "a patch (.msp)", ... for messages.
const char* describe(Kind kind);

}  // namespace CompoundFile
}  // namespace image
