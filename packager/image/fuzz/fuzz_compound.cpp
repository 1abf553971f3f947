// The compound file check on arbitrary bytes, and the reading of an installer
// package's facts after it: each must refuse with a FormatError or accept,
// never read outside the input, loop or exhaust memory.
#include <cstddef>
#include <cstdint>

#include "CompoundFile.h"
#include "FormatError.h"
#include "PackageDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        if (image::CompoundFile::check(data, size) == image::CompoundFile::Kind::Package) {
            image::PackageDatabase::read(data, size);
        }
    } catch (const image::FormatError&) {
    }
    return 0;
}
