#pragma once

#include <cstdint>

#include "FormatError.h"

namespace image {

// The compound file (structured storage) that installer packages, patches
// and transforms are made of, checked before any library opens it.
namespace CompoundFile {

// What the root storage's class identifier says the file is.
enum class Kind { Package, Patch, Transform, Other };

// Whether the bytes start with the compound file signature, before any check.
bool hasSignature(const std::uint8_t* data, std::uint64_t size);

// Raises image::FormatError saying what is wrong.
Kind check(const std::uint8_t* data, std::uint64_t size);

}  // namespace CompoundFile

}  // namespace image
