#pragma once

#include <cstdint>
#include <future>

#include "ByteSink.h"
#include "ByteView.h"
#include "Checksum.h"

namespace image {

class PeFile;
class ResourceTree;

// Writes a copy of a stub whose resources are `resources`: the stub's bytes
// are copied, the whole new resource tree (directories, then data entries,
// then names, then each data on an 8-byte boundary, smallest first) goes
// into a section appended after them, the resource directory entry points
// at it and the old resource section, left in place, is renamed ".rsrc~".
// The new section starts at a 4 KiB-aligned file offset and RVA, so that a
// loader may map it from the file rather than copy it. The data are streamed
// from where they lie and the checksum is computed on the way and patched in
// last, so a package of hundreds of megabytes costs about what copying it
// does.
namespace SetupWriter {

// The largest image Windows maps and Wine loads: 2 GiB less one.
const std::uint64_t maxImageSize = 0x7fffffffull;
// Where the new resource section starts, in the file and in memory.
const std::uint32_t sectionPlacement = 4096;

// The checksum of one resource's data, summed by the caller beforehand
// (perhaps on another thread while it checked the package): the writer then
// only copies those bytes and waits for the sum when it needs it.
struct Presummed {
    ByteView data;
    std::shared_future<Checksum> sum;
};

// `stub` must have passed Stub::check. Raises FormatError, before anything
// is written, when the result would exceed maxImageSize; the sink's own
// errors pass through. `presummed` may name data of `resources`.
void write(const PeFile& stub, const ResourceTree& resources, ByteSink& out,
           const Presummed* presummed = nullptr);

// The size of the file write() would produce, also when it is above
// maxImageSize, for a caller that checks the limit before doing any work.
// Raises FormatError only for a tree no resource section can hold.
std::uint64_t outputSize(const PeFile& stub, const ResourceTree& resources);

}  // namespace SetupWriter

}  // namespace image
