#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FormatError.h"
#include "StreamSource.h"

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
// directory within the file and free of loops, the directory tree within the
// depth and size its readers survive, every stream's sectors long enough for
// its size and inside the file, every chain to its end mark. Returns what the
// root storage's class identifier says the file is; for an installer package
// its system tables are checked too (InstallerTables::check).
Kind check(const std::uint8_t* data, std::uint64_t size);

// The streams in the root storage of a file check() walked, by the names
// stored in the directory; reads go only to sectors check() found inside
// the file.
class RootStreams : public StreamSource {
public:
    struct Stream {
        std::uint64_t size = 0;
        bool mini = false;
        std::vector<std::uint32_t> sectors;
    };

    RootStreams(const std::uint8_t* data, unsigned sectorShift,
                std::vector<std::uint32_t> miniStream, std::map<std::u16string, Stream> streams);

    bool size(const std::u16string& name, std::uint64_t& bytes) const override;
    std::vector<std::uint8_t> read(const std::u16string& name) const override;

private:
    const std::uint8_t* data;
    unsigned sectorShift;
    std::vector<std::uint32_t> miniStream;
    std::map<std::u16string, Stream> streams;
};

// The root storage's streams of a file, after the walk check() makes (the
// tables are not checked here); raises FormatError as check() does.
RootStreams rootStreams(const std::uint8_t* data, std::uint64_t size);

// "an installer package", "a patch (.msp)", ... for messages.
const char* describe(Kind kind);

}  // namespace CompoundFile
}  // namespace image
