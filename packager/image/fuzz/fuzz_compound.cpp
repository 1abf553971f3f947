// The compound file check on arbitrary bytes: it must refuse with a
// FormatError or accept, never read outside the input, loop or exhaust memory.
#include <cstddef>
#include <cstdint>

#include "CompoundFile.h"
#include "FormatError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        image::CompoundFile::check(data, size);
    } catch (const image::FormatError&) {
    }
    return 0;
}
