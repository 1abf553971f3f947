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
            if (!sectorData(sector)) {
                return false;
            }
            directory.push_back(sector);
            if (!next(sector, sector)) {
                return false;
            }
        }
        if (sector <= lastRegular) {
            return false;
        }
        // The search Windows' reader makes: down the root storage's tree by
        // the format's order of names, at most one step per entry.
        const std::uint8_t* root = entry(0);
        if (!root) {
            return false;
        }
        std::uint32_t at = ByteView::le32(root + 0x4C);
        const std::uint64_t entries = directory.size() * (sectorSize / entrySize);
        for (std::uint64_t steps = 0; steps < entries; ++steps) {
            const std::uint8_t* found = entry(at);
            if (!found) {
                return false;
            }
            const int order = compare(name, found);
            if (order == 0) {
                return found[66] == streamEntry && sameUnits(name, found);
            }
            at = ByteView::le32(found + (order < 0 ? 0x44 : 0x48));
        }
        return false;
    }

private:
    const std::uint8_t* data;
    std::uint64_t size;
    std::uint64_t sectorSize = 512;
    std::vector<std::uint32_t> fatSectors;
    std::vector<std::uint32_t> directory;

    // Null when the entry lies beyond the directory.
    const std::uint8_t* entry(std::uint64_t id) const {
        const std::uint64_t perSector = sectorSize / entrySize;
        if (id / perSector >= directory.size()) {
            return nullptr;
        }
        return sectorData(directory[id / perSector]) + (id % perSector) * entrySize;
    }

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

    // The format's order: shorter names first, then unit by unit in upper
    // case. A name size that fits no name ends the search as not found.
    static int compare(const std::u16string& name, const std::uint8_t* entry) {
        // The stored length counts the terminating zero, in bytes.
        const std::uint16_t length = ByteView::le16(entry + 64);
        if (length < 2 || length > 64 || length % 2 != 0) {
            return 0;
        }
        if (name.size() != length / 2 - 1u) {
            return name.size() < length / 2 - 1u ? -1 : 1;
        }
        const auto upper = [](std::uint16_t c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; };
        for (std::size_t i = 0; i < name.size(); ++i) {
            const int a = upper(name[i]);
            const int b = upper(ByteView::le16(entry + 2 * i));
            if (a != b) {
                return a < b ? -1 : 1;
            }
        }
        return 0;
    }

    static bool sameUnits(const std::u16string& name, const std::uint8_t* entry) {
        if (ByteView::le16(entry + 64) != (name.size() + 1) * 2) {
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
