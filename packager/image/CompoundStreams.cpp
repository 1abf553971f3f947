#include "CompoundStreams.h"

#include <vector>

#include "ByteView.h"

namespace image {
namespace CompoundStreams {

namespace {

const std::uint32_t lastRegular = 0xFFFFFFFA;  // above: end of chain, free, FAT, DIFAT
const std::uint64_t headerDifatEntries = 109;
const std::uint64_t entrySize = 128;
const std::uint8_t streamEntry = 2;

class Directory {
public:
    Directory(const std::uint8_t* data, std::uint64_t size) : data(data), size(size) {}

    bool has(const std::u16string& name) {
        if (size < 512) {
            return false;
        }
        const std::uint16_t shift = ByteView::le16(data + 30);
        if (shift != 9 && shift != 12) {
            return false;
        }
        sectorSize = std::uint64_t(1) << shift;
        if (!readFatSectors()) {
            return false;
        }
        // Each sector is met at most once along a chain that does not loop.
        const std::uint64_t most = size / sectorSize + 1;
        std::uint32_t sector = ByteView::le32(data + 48);
        for (std::uint64_t steps = 0; sector <= lastRegular && steps < most; ++steps) {
            const std::uint8_t* start = sectorData(sector);
            if (!start) {
                return false;
            }
            for (std::uint64_t at = 0; at + entrySize <= sectorSize; at += entrySize) {
                if (matches(start + at, name)) {
                    return true;
                }
            }
            if (!next(sector, sector)) {
                return false;
            }
        }
        return false;
    }

private:
    const std::uint8_t* data;
    std::uint64_t size;
    std::uint64_t sectorSize = 512;
    std::vector<std::uint32_t> fatSectors;

    // Null when the sector lies outside the file.
    const std::uint8_t* sectorData(std::uint32_t sector) const {
        const std::uint64_t offset = (std::uint64_t(sector) + 1) * sectorSize;
        return offset <= size && sectorSize <= size - offset ? data + offset : nullptr;
    }

    bool readFatSectors() {
        const std::uint64_t count = ByteView::le32(data + 44);
        // Every FAT sector is a sector of the file.
        if (count > size / sectorSize) {
            return false;
        }
        for (std::uint64_t i = 0; i < headerDifatEntries && fatSectors.size() < count; ++i) {
            fatSectors.push_back(ByteView::le32(data + 76 + 4 * i));
        }
        std::uint32_t difat = ByteView::le32(data + 68);
        const std::uint64_t perSector = sectorSize / 4 - 1;
        for (std::uint64_t steps = 0; fatSectors.size() < count; ++steps) {
            const std::uint8_t* start = difat <= lastRegular ? sectorData(difat) : nullptr;
            if (!start || steps > count) {
                return false;
            }
            for (std::uint64_t i = 0; i < perSector && fatSectors.size() < count; ++i) {
                fatSectors.push_back(ByteView::le32(start + 4 * i));
            }
            difat = ByteView::le32(start + 4 * perSector);
        }
        return true;
    }

    bool next(std::uint32_t sector, std::uint32_t& following) const {
        const std::uint64_t perSector = sectorSize / 4;
        const std::uint64_t index = sector / perSector;
        if (index >= fatSectors.size()) {
            return false;
        }
        const std::uint8_t* fat = sectorData(fatSectors[index]);
        if (!fat) {
            return false;
        }
        following = ByteView::le32(fat + 4 * (sector % perSector));
        return true;
    }

    static bool matches(const std::uint8_t* entry, const std::u16string& name) {
        // The stored length counts the terminating zero, in bytes.
        const std::uint16_t length = ByteView::le16(entry + 64);
        if (entry[66] != streamEntry || length != (name.size() + 1) * 2 || length > 64) {
            return false;
        }
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (ByteView::le16(entry + 2 * i) != name[i]) {
                return false;
            }
        }
        return true;
    }
};

}  // namespace

bool has(const std::uint8_t* data, std::uint64_t size, const std::u16string& name) {
    return Directory(data, size).has(name);
}

}  // namespace CompoundStreams
}  // namespace image
