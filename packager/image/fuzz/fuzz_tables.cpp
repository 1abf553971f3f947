// The reading of an installer database's tables and Summary Information on
// arbitrary streams, without the compound file around them, so that the
// fuzzer spends its time on the tables: it must refuse with a FormatError or
// read the facts, never read outside a stream, loop or exhaust memory.
//
// The input is a list of streams, each a byte naming it (its index in
// kNames, modulo their number), a 32-bit little-endian length and the
// stream's bytes; a later stream of a name replaces an earlier one.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FormatError.h"
#include "InstallerTables.h"
#include "PackageDatabase.h"

namespace {

struct Streams : image::StreamSource {
    std::map<std::u16string, std::vector<std::uint8_t>> streams;

    bool size(const std::u16string& name, std::uint64_t& bytes) const override {
        const auto found = streams.find(name);
        bytes = found != streams.end() ? found->second.size() : 0;
        return found != streams.end();
    }
    std::vector<std::uint8_t> read(const std::u16string& name) const override {
        const auto found = streams.find(name);
        return found != streams.end() ? found->second : std::vector<std::uint8_t>();
    }
};

std::u16string nameOf(std::uint8_t index) {
    using image::InstallerTables::encodeName;
    static const char* const kTables[] = {"_StringPool", "_StringData", "_Tables",
                                          "_Columns",    "Property",    "Media",
                                          "File",        "Component",   "Icon"};
    constexpr std::size_t kCount = sizeof kTables / sizeof kTables[0];
    switch (index % (kCount + 3)) {
        case kCount:
            return u"\x05SummaryInformation";
        case kCount + 1:
            return encodeName("Icon.app.ico", false);
        case kCount + 2:
            return encodeName("a.cab", false);
        default:
            return encodeName(kTables[index % (kCount + 3)], true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Streams streams;
    for (std::size_t at = 0; size - at >= 5;) {
        const std::uint8_t index = data[at];
        const std::uint64_t length = data[at + 1] | data[at + 2] << 8 | data[at + 3] << 16 |
                                     std::uint64_t{data[at + 4]} << 24;
        at += 5;
        const std::size_t take = length < size - at ? static_cast<std::size_t>(length) : size - at;
        streams.streams[nameOf(index)].assign(data + at, data + at + take);
        at += take;
    }
    try {
        image::PackageDatabase::read(streams);
    } catch (const image::FormatError&) {
    }
    return 0;
}
