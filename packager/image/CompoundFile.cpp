#include "CompoundFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "FormatError.h"
#include "InstallerTables.h"

namespace image {
namespace CompoundFile {

namespace {

const std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr std::uint64_t kHeaderSize = 512;
constexpr std::uint64_t kDirectoryEntrySize = 128;
constexpr std::uint64_t kMiniSectorSize = 64;
constexpr std::uint64_t kMiniStreamCutoff = 4096;
// Slots for FAT sector numbers in the header; the rest go to DIFAT sectors.
constexpr std::uint64_t kHeaderDifatSlots = 109;

// Sector numbers above kMaxSector mark the end of a chain or sectors that
// belong to no chain.
constexpr std::uint32_t kMaxSector = 0xFFFFFFFA;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

// What the installer libraries' directory readers survive, with room to
// spare: libgsf recurses along every sibling and child link (about 300 bytes
// of stack a link) and sorts each entry into a list (time growing with the
// square of the entries: 8,192 take it about a second). Writers that chain
// all siblings make the depth as large as a storage's streams, so the depth
// allows half the entries.
constexpr std::uint64_t kMaxEntries = 8192;
constexpr std::uint32_t kMaxDepth = 4096;

// The units the installer's stream-name encoding stores names in: two
// characters in one unit, one character, and the mark of a table's stream.
constexpr std::uint16_t kEncodedFirst = 0x3800;
constexpr std::uint16_t kEncodedLast = 0x4840;

enum EntryType : std::uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

// The root storage's class identifiers, as stored (the first three fields
// little-endian): {000C1084-0000-0000-C000-000000000046} and its siblings.
const std::uint8_t kPackageClass[16] = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const std::uint8_t kPatchClass[16] = {0x86, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const std::uint8_t kTransformClass[16] = {0x82, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

std::string num(std::uint64_t value) {
    return std::to_string(value);
}

std::string hex(std::uint64_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

[[noreturn]] void fail(const std::string& message) {
    throw FormatError(message);
}

std::string markName(std::uint32_t sector) {
    switch (sector) {
        case kFreeSector:
            return "free";
        case kFatSector:
            return "a FAT sector";
        case kDifatSector:
            return "a DIFAT sector";
        default:
            return "reserved value " + hex(sector);
    }
}

std::uint64_t ceilDiv(std::uint64_t value, std::uint64_t unit) {
    return value / unit + (value % unit != 0 ? 1 : 0);
}

// One pass over a file. Every sector and mini sector belongs to at most one
// chain: `owner` records which walk took it, so that a chain that comes back
// to one of its own sectors (a loop) or runs into another's is caught when
// it happens, and all walks together take at most one step per sector.
class Checker {
public:
    Checker(const std::uint8_t* data, std::uint64_t size) : data(data), size(size) {}

    Kind run() {
        walk();
        const Kind kind = kindOf(entry(0) + 0x50);
        if (kind == Kind::Package) {
            InstallerTables::check(root());
        }
        return kind;
    }

    RootStreams root() {
        return RootStreams(data, sectorShift, std::move(miniStream), std::move(rootStreams));
    }

    void walk() {
        readHeader();
        readFat();
        readDirectory();
        const std::vector<std::uint32_t> streams = walkTree();
        checkMiniStream();
        readMiniFat();
        for (std::uint32_t id : streams) {
            checkStream(id);
        }
    }

private:
    const std::uint8_t* data;
    std::uint64_t size;

    unsigned version = 0;
    std::uint64_t sectorSize = 0;
    unsigned sectorShift = 0;
    // Sectors that start inside the file; the last one may be cut short.
    std::uint64_t sectorCount = 0;

    std::vector<std::uint32_t> fat;
    std::vector<std::uint32_t> owner;
    std::uint32_t walks = 0;

    std::vector<std::uint32_t> directory;
    std::uint64_t entryCount = 0;

    std::uint64_t miniStreamSize = 0;
    std::vector<std::uint32_t> miniStream;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint32_t> miniOwner;

    std::vector<std::uint32_t> storages{0};
    std::vector<std::uint32_t> rootIds;
    std::map<std::u16string, RootStreams::Stream> rootStreams;
    std::unordered_map<std::uint32_t, RootStreams::Stream*> rootById;

    void readHeader() {
        if (!hasSignature(data, size)) {
            fail("the compound file signature is missing");
        }
        if (size < kHeaderSize) {
            fail("the compound file header is cut short: " + num(size) + " of " + num(kHeaderSize) +
                 " bytes");
        }
        const std::uint16_t byteOrder = le16(data + 0x1C);
        if (byteOrder != 0xFFFE) {
            fail("the compound file header's byte order mark is " + hex(byteOrder) +
                 ", not 0xFFFE");
        }
        version = le16(data + 0x1A);
        if (version != 3 && version != 4) {
            fail("compound file version " + num(version) + " is unknown (3 and 4 exist)");
        }
        sectorShift = le16(data + 0x1E);
        const unsigned expectedShift = version == 3 ? 9 : 12;
        if (sectorShift != expectedShift) {
            fail("the sector shift " + num(sectorShift) + " does not fit compound file version " +
                 num(version) + " (it takes " + num(expectedShift) + ")");
        }
        const std::uint16_t miniShift = le16(data + 0x20);
        if (miniShift != 6) {
            fail("the mini sector shift is " + num(miniShift) + ", not 6");
        }
        const std::uint32_t cutoff = le32(data + 0x38);
        if (cutoff != kMiniStreamCutoff) {
            fail("the mini stream cutoff is " + num(cutoff) + " bytes, not 4096");
        }
        sectorSize = std::uint64_t{1} << sectorShift;
        // Version 4's header fills a whole 4 KiB sector.
        if (size < sectorSize) {
            fail("the file is cut short in its header sector: " + num(size) + " of " +
                 num(sectorSize) + " bytes");
        }
        sectorCount = std::min<std::uint64_t>(ceilDiv(size - sectorSize, sectorSize),
                                              std::uint64_t{kMaxSector} + 1);
        owner.assign(sectorCount, 0);
    }

    std::uint64_t offsetOf(std::uint32_t sector) const {
        return (std::uint64_t{sector} + 1) << sectorShift;
    }

    // A sector read as a whole (tables, directory): all of it in the file.
    const std::uint8_t* wholeSector(std::uint32_t sector, const std::string& what) const {
        if (sector >= sectorCount || offsetOf(sector) + sectorSize > size) {
            fail(what + " (sector " + num(sector) + ") runs past the end of the file");
        }
        return data + offsetOf(sector);
    }

    // Marks `sector` as taken by the current walk.
    void take(std::uint32_t sector, const std::string& what) {
        if (sector > kMaxSector) {
            fail("the sector chain of " + what + " is broken: it reaches a sector marked " +
                 markName(sector));
        }
        if (sector >= sectorCount) {
            fail("the sector chain of " + what + " leads to sector " + num(sector) +
                 ", beyond the file's " + num(sectorCount) + " sectors");
        }
        if (owner[sector] == walks) {
            fail("the sector chain of " + what + " loops at sector " + num(sector));
        }
        if (owner[sector] != 0) {
            fail("the sector chain of " + what + " runs into sector " + num(sector) +
                 ", which belongs to another chain");
        }
        owner[sector] = walks;
    }

    void readFat() {
        const std::uint32_t fatCount = le32(data + 0x2C);
        const std::uint32_t difatCount = le32(data + 0x48);
        if (difatCount > sectorCount) {
            fail("the header counts " + num(difatCount) + " DIFAT sectors, more than the file's " +
                 num(sectorCount) + " sectors");
        }
        if (fatCount > sectorCount) {
            fail("the header counts " + num(fatCount) + " FAT sectors, more than the file's " +
                 num(sectorCount) + " sectors");
        }
        const std::uint64_t perDifatSector = sectorSize / 4 - 1;
        if (fatCount > kHeaderDifatSlots + std::uint64_t{difatCount} * perDifatSector) {
            fail("the header counts " + num(fatCount) + " FAT sectors, more than its " +
                 num(difatCount) + " DIFAT sectors can list");
        }

        std::vector<std::uint32_t> fatSectors;
        fatSectors.reserve(fatCount);
        for (std::uint64_t i = 0; i < kHeaderDifatSlots && fatSectors.size() < fatCount; ++i) {
            fatSectors.push_back(le32(data + 0x4C + 4 * i));
        }
        ++walks;
        std::uint32_t difatSector = le32(data + 0x44);
        for (std::uint32_t i = 0; i < difatCount; ++i) {
            if (difatSector == kEndOfChain || difatSector == kFreeSector) {
                fail("the DIFAT chain ends after " + num(i) + " of its " + num(difatCount) +
                     " sectors");
            }
            take(difatSector, "the DIFAT");
            const std::uint8_t* p = wholeSector(difatSector, "DIFAT sector " + num(i));
            for (std::uint64_t j = 0; j < perDifatSector && fatSectors.size() < fatCount; ++j) {
                fatSectors.push_back(le32(p + 4 * j));
            }
            difatSector = le32(p + 4 * perDifatSector);
        }

        ++walks;
        fat.reserve(fatSectors.size() * (sectorSize / 4));
        for (std::size_t i = 0; i < fatSectors.size(); ++i) {
            const std::uint32_t sector = fatSectors[i];
            if (sector > kMaxSector) {
                fail("FAT sector " + num(i) + " is listed as " + markName(sector) +
                     ", not as a sector of the file");
            }
            if (sector >= sectorCount) {
                fail("FAT sector " + num(i) + " is listed at sector " + num(sector) +
                     ", beyond the file's " + num(sectorCount) + " sectors");
            }
            if (owner[sector] != 0) {
                fail("FAT sector " + num(i) + " is listed at sector " + num(sector) +
                     ", which already holds another part of the file");
            }
            owner[sector] = walks;
            const std::uint8_t* p = wholeSector(sector, "FAT sector " + num(i));
            for (std::uint64_t j = 0; j < sectorSize / 4; ++j) {
                fat.push_back(le32(p + 4 * j));
            }
        }
    }

    // The sectors of one chain in order; at most one step per sector of
    // the file, since a sector can be taken only once.
    std::vector<std::uint32_t> chain(std::uint32_t start, const std::string& what) {
        ++walks;
        std::vector<std::uint32_t> sectors;
        for (std::uint32_t sector = start; sector != kEndOfChain;) {
            take(sector, what);
            if (sector >= fat.size()) {
                fail("the sector chain of " + what + " leads to sector " + num(sector) +
                     ", beyond the FAT's " + num(fat.size()) + " entries");
            }
            sectors.push_back(sector);
            sector = fat[sector];
        }
        return sectors;
    }

    // A stream's data: enough sectors for its size, and the bytes it uses
    // of each inside the file.
    void checkSectors(const std::vector<std::uint32_t>& sectors, std::uint64_t streamSize,
                      const std::string& what) const {
        const std::uint64_t needed = ceilDiv(streamSize, sectorSize);
        if (sectors.size() < needed) {
            fail(what + " is " + num(streamSize) + " bytes, but its sector chain holds only " +
                 num(sectors.size() * sectorSize));
        }
        if (needed != 0) {
            const std::uint64_t lastUsed = streamSize - (needed - 1) * sectorSize;
            for (std::uint64_t i = 0; i < needed; ++i) {
                const std::uint64_t used = i + 1 < needed ? sectorSize : lastUsed;
                if (offsetOf(sectors[i]) + used > size) {
                    fail(what + " runs past the end of the file (sector " + num(sectors[i]) + ")");
                }
            }
        }
    }

    void readDirectory() {
        directory = chain(le32(data + 0x30), "the directory");
        if (directory.empty()) {
            fail("the directory is empty: it has no root entry");
        }
        for (std::size_t i = 0; i < directory.size(); ++i) {
            wholeSector(directory[i], "directory sector " + num(i));
        }
        entryCount = directory.size() * (sectorSize / kDirectoryEntrySize);
        const std::uint8_t* root = entry(0);
        if (root[0x42] != kRoot) {
            fail("directory entry 0 is no root storage (type " + num(root[0x42]) + ")");
        }
    }

    const std::uint8_t* entry(std::uint64_t id) const {
        const std::uint64_t perSector = sectorSize / kDirectoryEntrySize;
        return data + offsetOf(directory[id / perSector]) + (id % perSector) * kDirectoryEntrySize;
    }

    // Version 3 stores 32-bit sizes; writers leave anything in the high half.
    std::uint64_t streamSize(const std::uint8_t* e) const {
        return version == 3 ? le32(e + 0x78) : le64(e + 0x78);
    }

    // The storages and streams reachable from the root: each entry at most
    // once, so that a cycle through sibling or child links is caught, and the
    // walk takes as many steps as the directory has entries. The installer
    // library's reader recurses along every link and sorts each entry into
    // place: the tree's depth costs it stack, its entries time squared.
    std::vector<std::uint32_t> walkTree() {
        std::vector<std::uint32_t> streams;
        std::vector<bool> reached(entryCount, false);
        reached[0] = true;
        struct Link {
            std::uint32_t id;
            std::uint32_t from;
            std::uint32_t depth;
            std::uint32_t storage;
        };
        std::vector<Link> pending;
        std::uint64_t entries = 0;
        const auto follow = [&](const Link& at, std::size_t field, std::uint32_t storage) {
            const std::uint32_t id = le32(entry(at.id) + field);
            if (id != kNoEntry) {
                pending.push_back({id, at.id, at.depth + 1, storage});
            }
        };
        follow({0, 0, 0, 0}, 0x4C, 0);
        while (!pending.empty()) {
            const Link link = pending.back();
            pending.pop_back();
            const std::uint32_t id = link.id;
            if (id >= entryCount) {
                fail("directory entry " + num(link.from) + " points at entry " + num(id) +
                     ", beyond the directory's " + num(entryCount) + " entries");
            }
            if (reached[id]) {
                fail("directory entry " + num(id) + " is reached twice (from entry " +
                     num(link.from) + "): the directory tree has a cycle");
            }
            reached[id] = true;
            if (++entries > kMaxEntries) {
                fail("the directory tree has more than " + num(kMaxEntries) + " entries");
            }
            if (link.depth > kMaxDepth) {
                fail("the directory tree is more than " + num(kMaxDepth) +
                     " links deep (at entry " + num(id) + ")");
            }
            const std::uint8_t* e = entry(id);
            switch (e[0x42]) {
                case kStorage:
                    storages.push_back(id);
                    follow(link, 0x4C, id);
                    break;
                case kStream:
                    streams.push_back(id);
                    if (link.storage == 0) {
                        rootIds.push_back(id);
                    }
                    break;
                default:
                    fail("directory entry " + num(id) + " (reached from entry " + num(link.from) +
                         ") is neither a storage nor a stream (type " + num(e[0x42]) + ")");
            }
            checkName(id);
            follow(link, 0x44, link.storage);
            follow(link, 0x48, link.storage);
        }
        checkOrder();
        for (std::uint32_t id : rootIds) {
            const auto placed = rootStreams.emplace(nameOf(id), RootStreams::Stream());
            if (!placed.second) {
                fail("directory entry " + num(id) +
                     " holds a second stream of the same name in the root storage");
            }
            rootById.emplace(id, &placed.first->second);
        }
        return streams;
    }

    // The length of an entry's name in units, once checkName passed it.
    std::uint32_t nameLength(std::uint32_t id) const { return le16(entry(id) + 0x40) / 2 - 1; }

    std::u16string nameOf(std::uint32_t id) const {
        std::u16string name;
        for (std::uint32_t i = 0; i < nameLength(id); ++i) {
            name.push_back(static_cast<char16_t>(le16(entry(id) + 2 * i)));
        }
        return name;
    }

    // "directory entry 7 ('Property')", with the installer's name encoding
    // undone and anything else unprintable escaped.
    std::string shown(std::uint32_t id) const {
        const std::uint8_t* e = entry(id);
        const std::uint16_t units = std::min<std::uint16_t>(le16(e + 0x40) / 2, 32);
        std::string text;
        for (std::uint16_t i = 0; i < units; ++i) {
            const std::uint16_t c = le16(e + 2 * i);
            if (c == 0 && i + 1 == units) {
                break;
            }
            if (c >= kEncodedFirst && c <= kEncodedLast) {
                text += InstallerTables::decodeName(std::u16string(1, static_cast<char16_t>(c)));
            } else if (c >= 0x20 && c < 0x7F) {
                text.push_back(static_cast<char>(c));
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, c < 0x100 ? "\\x%02X" : "\\u%04X",
                              unsigned{c});
                text += escaped;
            }
        }
        return "directory entry " + num(id) + " ('" + text + "')";
    }

    // Readers take a name in different ways: libgsf up to its first NUL,
    // others by the name-size field, and Windows' reader compares names
    // upper-cased by its own tables while libgsf and libmsi compare them
    // exactly. A name passes only where they all read the same: its size
    // field ends it with its one NUL, and it holds only characters whose
    // upper case no reader can take differently (ASCII, the installer's
    // encoded characters, which have no case, and a control character
    // first, as property-set streams start).
    void checkName(std::uint32_t id) const {
        const std::uint8_t* e = entry(id);
        const std::uint16_t nameSize = le16(e + 0x40);
        if (nameSize < 2 || nameSize > 64 || nameSize % 2 != 0) {
            fail("directory entry " + num(id) + " gives its name " + num(nameSize) +
                 " bytes (an even number from 2 to 64)");
        }
        const std::uint16_t units = nameSize / 2;
        const auto refuse = [&](const std::string& what) { fail(shown(id) + " has " + what); };
        for (std::uint16_t i = 0; i + 1 < units; ++i) {
            const std::uint16_t c = le16(e + 2 * i);
            if (c == 0) {
                refuse("a NUL inside its name, before the " + num(nameSize) +
                       " bytes its name size gives: readers would cut the name at different "
                       "places");
            }
            if (c < 0x20 || c == 0x7F) {
                if (i != 0) {
                    refuse("the control character " + hex(c) +
                           " after its first character: only a first one names a property set");
                }
            } else if (c == '/' || c == '\\' || c == ':' || c == '!') {
                refuse("'" + std::string(1, static_cast<char>(c)) +
                       "' in its name, which compound file names may not hold");
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                refuse("the surrogate " + hex(c) +
                       " in its name: readers that cannot decode it read the name otherwise");
            } else if (c >= 0x80 && (c < kEncodedFirst || c > kEncodedLast)) {
                refuse("the character " + hex(c) +
                       " in its name, outside ASCII and the installer's name encoding: readers "
                       "upper-case it differently to compare names");
            }
        }
        if (le16(e + 2 * (units - 1)) != 0) {
            fail(shown(id) + " has no NUL where its name size (" + num(nameSize) +
                 " bytes) ends it: readers would read names of different lengths");
        }
        // The installer's readers open a stream by encoding its name, and
        // list the streams by decoding theirs: a name stored otherwise than
        // the encoding stores it is found one way and not the other.
        const std::u16string name = nameOf(id);
        const bool encoded = std::any_of(name.begin(), name.end(), [](char16_t c) {
            return c >= kEncodedFirst && c <= kEncodedLast;
        });
        const bool table = !name.empty() && name[0] == kEncodedLast;
        if (encoded &&
            InstallerTables::encodeName(InstallerTables::decodeName(table ? name.substr(1) : name),
                                        table) != name) {
            fail(shown(id) +
                 " is not stored the way the installer's name encoding stores it: readers that "
                 "look it up by name would not find it");
        }
    }

    // The format's order of names: shorter first, then unit by unit in upper
    // case. checkName left only ASCII letters with a case.
    int compareNames(std::uint32_t a, std::uint32_t b) const {
        const std::uint32_t la = nameLength(a);
        const std::uint32_t lb = nameLength(b);
        if (la != lb) {
            return la < lb ? -1 : 1;
        }
        const auto upper = [](std::uint16_t c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; };
        for (std::uint32_t i = 0; i < la; ++i) {
            const int ca = upper(le16(entry(a) + 2 * i));
            const int cb = upper(le16(entry(b) + 2 * i));
            if (ca != cb) {
                return ca < cb ? -1 : 1;
            }
        }
        return 0;
    }

    // Windows' reader finds a name by searching each storage's tree; libgsf
    // lists every entry. They find the same entries only where every tree is
    // a search tree in the format's order, its names strictly increasing
    // from left to right. walkTree found the links free of cycles, so this
    // in-order walk visits each entry once.
    void checkOrder() const {
        std::vector<std::uint32_t> path;
        std::unordered_map<std::string, std::uint32_t> listed;
        for (std::uint32_t storage : storages) {
            listed.clear();
            std::uint32_t previous = kNoEntry;
            std::uint32_t at = le32(entry(storage) + 0x4C);
            while (at != kNoEntry || !path.empty()) {
                if (at != kNoEntry) {
                    path.push_back(at);
                    at = le32(entry(at) + 0x44);
                    continue;
                }
                at = path.back();
                path.pop_back();
                if (previous != kNoEntry) {
                    const int order = compareNames(previous, at);
                    if (order == 0) {
                        fail(shown(at) + " has the same name as entry " + num(previous) +
                             " in its storage (names compare in upper case): readers would "
                             "pick different ones");
                    }
                    if (order > 0) {
                        fail(shown(at) +
                             " is out of order in its storage: a reader that searches the "
                             "tree would not find it");
                    }
                }
                // The installer's readers list a storage by the decoded names.
                const auto placed = listed.emplace(InstallerTables::decodeName(nameOf(at)), at);
                if (!placed.second) {
                    fail(shown(at) + " reads as the name of entry " + num(placed.first->second) +
                         " in its storage once the installer's name encoding is undone: readers "
                         "would pick different ones");
                }
                previous = at;
                at = le32(entry(at) + 0x48);
            }
        }
    }

    // The root entry's stream holds the small streams, in 64-byte mini sectors.
    void checkMiniStream() {
        const std::uint8_t* root = entry(0);
        miniStreamSize = streamSize(root);
        if (miniStreamSize > size) {
            fail("the mini stream is " + num(miniStreamSize) + " bytes, more than the file's " +
                 num(size));
        }
        if (miniStreamSize == 0) {
            return;
        }
        miniStream = chain(le32(root + 0x74), "the mini stream");
        checkSectors(miniStream, miniStreamSize, "the mini stream");
    }

    void readMiniFat() {
        const std::uint32_t start = le32(data + 0x3C);
        const std::uint32_t count = le32(data + 0x40);
        if (count > sectorCount) {
            fail("the header counts " + num(count) + " mini FAT sectors, more than the file's " +
                 num(sectorCount) + " sectors");
        }
        // Some writers mark an absent mini FAT free rather than ending it.
        const std::vector<std::uint32_t> sectors = count == 0 && start == kFreeSector
                                                       ? std::vector<std::uint32_t>()
                                                       : chain(start, "the mini FAT");
        if (sectors.size() < count) {
            fail("the header counts " + num(count) + " mini FAT sectors, but their chain holds " +
                 num(sectors.size()));
        }
        miniFat.reserve(sectors.size() * (sectorSize / 4));
        for (std::size_t i = 0; i < sectors.size(); ++i) {
            const std::uint8_t* p = wholeSector(sectors[i], "mini FAT sector " + num(i));
            for (std::uint64_t j = 0; j < sectorSize / 4; ++j) {
                miniFat.push_back(le32(p + 4 * j));
            }
        }
        miniOwner.assign(
            std::min<std::uint64_t>(miniFat.size(), ceilDiv(miniStreamSize, kMiniSectorSize)), 0);
    }

    void checkStream(std::uint32_t id) {
        const std::uint8_t* e = entry(id);
        const std::string what = "the stream of directory entry " + num(id);
        const std::uint64_t bytes = streamSize(e);
        if (bytes > size) {
            fail(what + " is " + num(bytes) + " bytes, more than the whole file's " + num(size));
        }
        const std::uint32_t start = le32(e + 0x74);
        if (bytes >= kMiniStreamCutoff) {
            std::vector<std::uint32_t> sectors = chain(start, what);
            checkSectors(sectors, bytes, what);
            keep(id, bytes, false, std::move(sectors));
            return;
        }
        // A mini chain: its sectors lie inside the mini stream, whose own
        // sectors were checked against the file. The readers follow it to its
        // end mark, past the sectors the size needs.
        ++walks;
        const std::uint64_t needed = ceilDiv(bytes, kMiniSectorSize);
        std::vector<std::uint32_t> sectors;
        std::uint64_t count = 0;
        for (std::uint32_t sector = start; needed != 0 && sector != kEndOfChain; ++count) {
            if (sector > kMaxSector) {
                fail("the mini sector chain of " + what +
                     " is broken: it reaches a sector marked " + markName(sector));
            }
            if (sector >= miniFat.size()) {
                fail("the mini sector chain of " + what + " leads to mini sector " + num(sector) +
                     ", beyond the mini FAT's " + num(miniFat.size()) + " entries");
            }
            const std::uint64_t used = count + 1 < needed    ? kMiniSectorSize
                                       : count + 1 == needed ? bytes - count * kMiniSectorSize
                                                             : 0;
            if (sector >= miniOwner.size() ||
                std::uint64_t{sector} * kMiniSectorSize + used > miniStreamSize) {
                fail("the mini sector chain of " + what + " leads to mini sector " + num(sector) +
                     ", outside the " + num(miniStreamSize) + "-byte mini stream");
            }
            if (miniOwner[sector] == walks) {
                fail("the mini sector chain of " + what + " loops at mini sector " + num(sector));
            }
            if (miniOwner[sector] != 0) {
                fail("the mini sector chain of " + what + " runs into mini sector " + num(sector) +
                     ", which belongs to another stream");
            }
            miniOwner[sector] = walks;
            sectors.push_back(sector);
            sector = miniFat[sector];
        }
        if (count < needed) {
            fail(what + " is " + num(bytes) + " bytes, but its mini sector chain holds only " +
                 num(count * kMiniSectorSize));
        }
        keep(id, bytes, true, std::move(sectors));
    }

    // The root storage's streams, for the reading of an installer database.
    void keep(std::uint32_t id, std::uint64_t bytes, bool mini,
              std::vector<std::uint32_t> sectors) {
        const auto found = rootById.find(id);
        if (found != rootById.end()) {
            found->second->size = bytes;
            found->second->mini = mini;
            found->second->sectors = std::move(sectors);
        }
    }

    static Kind kindOf(const std::uint8_t* classId) {
        if (std::memcmp(classId, kPackageClass, 16) == 0) {
            return Kind::Package;
        }
        if (std::memcmp(classId, kPatchClass, 16) == 0) {
            return Kind::Patch;
        }
        if (std::memcmp(classId, kTransformClass, 16) == 0) {
            return Kind::Transform;
        }
        return Kind::Other;
    }
};

}  // namespace

RootStreams::RootStreams(const std::uint8_t* data, unsigned sectorShift,
                         std::vector<std::uint32_t> miniStream,
                         std::map<std::u16string, Stream> streams)
    : data(data),
      sectorShift(sectorShift),
      miniStream(std::move(miniStream)),
      streams(std::move(streams)) {}

bool RootStreams::size(const std::u16string& name, std::uint64_t& bytes) const {
    const auto found = streams.find(name);
    if (found == streams.end()) {
        return false;
    }
    bytes = found->second.size;
    return true;
}

std::vector<std::uint8_t> RootStreams::read(const std::u16string& name) const {
    std::vector<std::uint8_t> bytes;
    const auto found = streams.find(name);
    if (found == streams.end()) {
        return bytes;
    }
    const Stream& stream = found->second;
    bytes.reserve(stream.size);
    const std::uint64_t sectorSize = std::uint64_t{1} << sectorShift;
    const std::uint64_t unit = stream.mini ? kMiniSectorSize : sectorSize;
    for (std::uint32_t sector : stream.sectors) {
        if (bytes.size() >= stream.size) {
            break;
        }
        const std::uint64_t take = std::min<std::uint64_t>(unit, stream.size - bytes.size());
        std::uint64_t offset = 0;
        if (stream.mini) {
            const std::uint64_t inMini = std::uint64_t{sector} * kMiniSectorSize;
            offset = ((std::uint64_t{miniStream[inMini >> sectorShift]} + 1) << sectorShift) +
                     (inMini & (sectorSize - 1));
        } else {
            offset = (std::uint64_t{sector} + 1) << sectorShift;
        }
        bytes.insert(bytes.end(), data + offset, data + offset + take);
    }
    return bytes;
}

bool hasSignature(const std::uint8_t* data, std::uint64_t size) {
    return data != nullptr && size >= sizeof kSignature &&
           std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

Kind check(const std::uint8_t* data, std::uint64_t size) {
    return Checker(data, size).run();
}

RootStreams rootStreams(const std::uint8_t* data, std::uint64_t size) {
    Checker checker(data, size);
    checker.walk();
    return checker.root();
}

const char* describe(Kind kind) {
    switch (kind) {
        case Kind::Package:
            return "an installer package";
        case Kind::Patch:
            return "a patch (.msp)";
        case Kind::Transform:
            return "a transform (.mst)";
        case Kind::Other:
            break;
    }
    return "a compound file of another kind";
}

}  // namespace CompoundFile
}  // namespace image
