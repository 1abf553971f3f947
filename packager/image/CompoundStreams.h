#pragma once

#include <cstdint>
#include <string>

namespace image {

// Looks for streams by name in a compound file's directory, without reading
// them: how the tool tells that a package carries its Authenticode signature
// ("\x05DigitalSignature"), which the installer library keeps out of its
// tables.
namespace CompoundStreams {

// Whether a stream of exactly this name is in the root storage, found as
// Windows' reader finds it: by searching the root's tree. Anything that does
// not add up (a sector outside the file, a chain that loops) ends the search
// with false; run CompoundFile::check first to tell damage apart (it also
// makes sure the search finds what a reader that walks the tree finds).
bool has(const std::uint8_t* data, std::uint64_t size, const std::u16string& name);

}  // namespace CompoundStreams
}  // namespace image
