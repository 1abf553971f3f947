// TEMPORARY: stands in for packager/image/CompoundFile.cpp until that lands;
// delete this file when merging it. It checks only the signature, the sector
// size and where the root entry's class identifier lies, nothing of the
// chains or the directory tree.

#include <cstring>

#include "ByteView.h"
#include "CompoundFile.h"

namespace image {
namespace CompoundFile {

namespace {

const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// {000C108x-0000-0000-C000-000000000046} as stored, little-endian fields.
bool isClass(const std::uint8_t* clsid, std::uint8_t low) {
    const std::uint8_t expected[16] = {low,  0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    return std::memcmp(clsid, expected, sizeof(expected)) == 0;
}

}  // namespace

bool hasSignature(const std::uint8_t* data, std::uint64_t size) {
    return size >= sizeof(signature) && std::memcmp(data, signature, sizeof(signature)) == 0;
}

Kind check(const std::uint8_t* data, std::uint64_t size) {
    if (!hasSignature(data, size)) {
        throw FormatError("no compound file signature");
    }
    const ByteView file(data, size);
    const unsigned shift = file.u16(0x1E, "the compound file header");
    if (shift != 9 && shift != 12) {
        throw FormatError("sector size 2^" + std::to_string(shift) + " is neither 512 nor 4096");
    }
    const std::uint64_t sector = 1ull << shift;
    const std::uint64_t directory = (file.u32(0x30, "the compound file header") + 1ull) * sector;
    const ByteView root = file.sub(directory, 128, "the root directory entry");
    if (root.u8(0x42, "the root directory entry") != 5) {
        throw FormatError("the first directory entry is not the root storage");
    }
    const std::uint8_t* clsid = root.data() + 0x50;
    if (isClass(clsid, 0x84)) {
        return Kind::Package;
    }
    if (isClass(clsid, 0x86)) {
        return Kind::Patch;
    }
    if (isClass(clsid, 0x82)) {
        return Kind::Transform;
    }
    return Kind::Other;
}

}  // namespace CompoundFile
}  // namespace image
