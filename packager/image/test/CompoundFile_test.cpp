#include "CompoundFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ErrorOf.h"
#include "FormatError.h"
#include "InstallerTables.h"

namespace {

using image::CompoundFile::Kind;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;

// A class of no installer file: the streams here hold no database tables.
const std::uint8_t kOtherClass[16] = {0x83, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// A small compound file laid out plainly, with the places a test damages:
//   sector 0 the FAT, 1 the directory (root; "small", 100 bytes, and "tiny",
//   10 bytes, in the mini stream; "bigger", 5000 bytes), 2 the mini FAT,
//   3 the mini stream, then the big stream's sectors.
// The tree: root -> small, small.left = tiny, small.right = big.
struct Sample {
    unsigned version;
    std::uint64_t sectorSize;
    Bytes file;

    explicit Sample(unsigned version = 3)
        : version(version), sectorSize(version == 3 ? 512 : 4096) {
        const std::uint64_t bigSectors = (5000 + sectorSize - 1) / sectorSize;
        file.assign((5 + bigSectors) * sectorSize, 0);
        const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::copy(std::begin(signature), std::end(signature), file.begin());
        put16(0x18, 0x3E);
        put16(0x1A, version);
        put16(0x1C, 0xFFFE);
        put16(0x1E, version == 3 ? 9 : 12);
        put16(0x20, 6);
        put32(0x2C, 1);     // FAT sectors
        put32(0x30, 1);     // first directory sector
        put32(0x38, 4096);  // mini stream cutoff
        put32(0x3C, 2);     // first mini FAT sector
        put32(0x40, 1);     // mini FAT sectors
        put32(0x44, kEnd);  // first DIFAT sector
        for (int i = 0; i < 109; ++i) {
            put32(0x4C + 4 * i, i == 0 ? 0 : kFree);
        }

        for (std::uint64_t i = 0; i < sectorSize / 4; ++i) {
            setFat(i, kFree);
            setMiniFat(i, kFree);
        }
        setFat(0, 0xFFFFFFFD);
        setFat(1, kEnd);
        setFat(2, kEnd);
        setFat(3, kEnd);
        for (std::uint64_t i = 0; i < bigSectors; ++i) {
            setFat(4 + i, i + 1 < bigSectors ? 5 + i : kEnd);
        }
        setMiniFat(0, 1);
        setMiniFat(1, kEnd);
        setMiniFat(2, kEnd);

        for (std::uint32_t id = 0; id < sectorSize / 128; ++id) {
            put32(entry(id) + 0x44, kFree);
            put32(entry(id) + 0x48, kFree);
            put32(entry(id) + 0x4C, kFree);
        }
        setEntry(0, u"Root Entry", 5, 3, 192);
        std::copy(std::begin(kOtherClass), std::end(kOtherClass), file.begin() + entry(0) + 0x50);
        put32(entry(0) + 0x4C, 1);
        setEntry(1, u"small", 2, 0, 100);
        put32(entry(1) + 0x44, 2);
        put32(entry(1) + 0x48, 3);
        setEntry(2, u"tiny", 2, 2, 10);
        setEntry(3, u"bigger", 2, 4, 5000);
    }

    std::uint64_t offsetOf(std::uint64_t sector) const { return (sector + 1) * sectorSize; }
    std::uint64_t entry(std::uint32_t id) const { return offsetOf(1) + 128 * id; }
    void setFat(std::uint64_t index, std::uint32_t value) { put32(offsetOf(0) + 4 * index, value); }
    void setMiniFat(std::uint64_t index, std::uint32_t value) {
        put32(offsetOf(2) + 4 * index, value);
    }
    void setEntry(std::uint32_t id, const std::u16string& name, std::uint8_t type,
                  std::uint32_t start, std::uint64_t size) {
        std::fill_n(file.begin() + entry(id), 64, 0);
        for (std::size_t i = 0; i < name.size(); ++i) {
            put16(entry(id) + 2 * i, name[i]);
        }
        put16(entry(id) + 0x40, static_cast<std::uint16_t>(2 * (name.size() + 1)));
        file[entry(id) + 0x42] = type;
        file[entry(id) + 0x43] = 1;
        put32(entry(id) + 0x74, start);
        put64(entry(id) + 0x78, size);
    }

    void put16(std::uint64_t at, std::uint16_t v) {
        file[at] = v & 0xFF;
        file[at + 1] = v >> 8;
    }
    void put32(std::uint64_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    }
    void put64(std::uint64_t at, std::uint64_t v) {
        put32(at, v & 0xFFFFFFFF);
        put32(at + 4, v >> 32);
    }
};

Kind check(const Bytes& file) {
    return image::CompoundFile::check(file.data(), file.size());
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct DamageCase {
    const char* name;
    unsigned version;
    std::function<void(Sample&)> damage;
    const char* expected;
};

const DamageCase kDamageCases[] = {
    {"empty", 3, [](Sample& s) { s.file.clear(); }, "the compound file signature is missing"},
    {"wrong signature", 3, [](Sample& s) { s.file[7] = 0; },
     "the compound file signature is missing"},
    {"cut in the header", 3, [](Sample& s) { s.file.resize(300); },
     "the compound file header is cut short: 300 of 512 bytes"},
    {"version 4 cut in its header sector", 4, [](Sample& s) { s.file.resize(2000); },
     "cut short in its header sector: 2000 of 4096 bytes"},
    {"cut before the big stream's sectors", 3, [](Sample& s) { s.file.resize(5000); },
     "the sector chain of the stream of directory entry 3 leads to sector 9, beyond the "
     "file's 9 sectors"},
    {"cut inside the big stream's last sector", 3,
     [](Sample& s) { s.file.resize(s.file.size() - 200); },
     "the stream of directory entry 3 runs past the end of the file (sector 13)"},
    {"byte order mark", 3, [](Sample& s) { s.put16(0x1C, 0xFEFF); },
     "byte order mark is 0xFEFF, not 0xFFFE"},
    {"unknown version", 3, [](Sample& s) { s.put16(0x1A, 5); },
     "compound file version 5 is unknown"},
    {"sector shift of the other version", 3, [](Sample& s) { s.put16(0x1E, 12); },
     "the sector shift 12 does not fit compound file version 3 (it takes 9)"},
    {"mini sector shift", 3, [](Sample& s) { s.put16(0x20, 7); },
     "the mini sector shift is 7, not 6"},
    {"mini stream cutoff", 3, [](Sample& s) { s.put32(0x38, 0); },
     "the mini stream cutoff is 0 bytes, not 4096"},
    {"DIFAT count 0xFFFFFFFF", 3, [](Sample& s) { s.put32(0x48, 0xFFFFFFFF); },
     "the header counts 4294967295 DIFAT sectors, more than the file's 14 sectors"},
    {"FAT count beyond the file", 3, [](Sample& s) { s.put32(0x2C, 0x100000); },
     "the header counts 1048576 FAT sectors, more than the file's 14 sectors"},
    {"DIFAT chain ends early", 3, [](Sample& s) { s.put32(0x48, 1); },
     "the DIFAT chain ends after 0 of its 1 sectors"},
    {"DIFAT chain loops", 3,
     [](Sample& s) {
         s.put32(0x48, 2);
         s.put32(0x44, 3);
         s.put32(s.offsetOf(3) + s.sectorSize - 4, 3);
     },
     "the sector chain of the DIFAT loops at sector 3"},
    {"FAT sector outside the file", 3, [](Sample& s) { s.put32(0x4C, 1000); },
     "FAT sector 0 is listed at sector 1000, beyond the file's 14 sectors"},
    {"FAT sector marked free", 3, [](Sample& s) { s.put32(0x4C, kFree); },
     "FAT sector 0 is listed as free"},
    {"FAT chain loops", 3, [](Sample& s) { s.setFat(13, 4); },
     "the sector chain of the stream of directory entry 3 loops at sector 4"},
    {"directory chain loops", 3, [](Sample& s) { s.setFat(1, 1); },
     "the sector chain of the directory loops at sector 1"},
    {"chain reaches a free sector", 3, [](Sample& s) { s.setFat(8, kFree); },
     "the sector chain of the stream of directory entry 3 is broken: it reaches a sector "
     "marked free"},
    {"chain runs into the mini stream", 3, [](Sample& s) { s.setFat(13, 3); },
     "runs into sector 3, which belongs to another chain"},
    {"no directory", 3, [](Sample& s) { s.put32(0x30, kEnd); },
     "the directory is empty: it has no root entry"},
    {"root entry of the wrong type", 3, [](Sample& s) { s.file[s.entry(0) + 0x42] = 1; },
     "directory entry 0 is no root storage (type 1)"},
    {"sibling back to its parent", 3, [](Sample& s) { s.put32(s.entry(2) + 0x44, 1); },
     "directory entry 1 is reached twice (from entry 2): the directory tree has a cycle"},
    {"child pointing at itself", 3,
     [](Sample& s) {
         s.file[s.entry(3) + 0x42] = 1;
         s.put32(s.entry(3) + 0x4C, 3);
     },
     "directory entry 3 is reached twice (from entry 3)"},
    {"child pointing at the root", 3, [](Sample& s) { s.put32(s.entry(0) + 0x4C, 0); },
     "directory entry 0 is reached twice (from entry 0)"},
    {"sibling beyond the directory", 3, [](Sample& s) { s.put32(s.entry(1) + 0x48, 50); },
     "directory entry 1 points at entry 50, beyond the directory's 4 entries"},
    {"unused entry in the tree", 3, [](Sample& s) { s.file[s.entry(2) + 0x42] = 0; },
     "directory entry 2 (reached from entry 1) is neither a storage nor a stream (type 0)"},
    {"name too long", 3, [](Sample& s) { s.put16(s.entry(2) + 0x40, 66); },
     "directory entry 2 gives its name 66 bytes"},
    {"stream size 2^63-1", 4, [](Sample& s) { s.put64(s.entry(3) + 0x78, 0x7FFFFFFFFFFFFFFF); },
     "the stream of directory entry 3 is 9223372036854775807 bytes, more than the whole "
     "file's 28672"},
    {"stream size 2^32-1 in version 3", 3,
     [](Sample& s) { s.put64(s.entry(3) + 0x78, 0xFFFFFFFF); },
     "is 4294967295 bytes, more than the whole file's 7680"},
    {"chain shorter than the size", 3, [](Sample& s) { s.put64(s.entry(3) + 0x78, 6000); },
     "the stream of directory entry 3 is 6000 bytes, but its sector chain holds only 5120"},
    {"mini stream larger than its chain", 3, [](Sample& s) { s.put64(s.entry(0) + 0x78, 1000); },
     "the mini stream is 1000 bytes, but its sector chain holds only 512"},
    {"mini sector outside the mini stream", 3, [](Sample& s) { s.put64(s.entry(0) + 0x78, 128); },
     "the mini sector chain of the stream of directory entry 2 leads to mini sector 2, "
     "outside the 128-byte mini stream"},
    {"mini chain shorter than the size", 3, [](Sample& s) { s.put64(s.entry(1) + 0x78, 200); },
     "the stream of directory entry 1 is 200 bytes, but its mini sector chain holds only 128"},
    {"mini chain loops", 3,
     [](Sample& s) {
         s.put64(s.entry(1) + 0x78, 200);
         s.setMiniFat(1, 0);
     },
     "the mini sector chain of the stream of directory entry 1 loops at mini sector 0"},
    {"two streams share a mini sector", 3, [](Sample& s) { s.put32(s.entry(2) + 0x74, 1); },
     "runs into mini sector 1, which belongs to another stream"},
    {"mini FAT count beyond its chain", 3, [](Sample& s) { s.put32(0x40, 2); },
     "the header counts 2 mini FAT sectors, but their chain holds 1"},
    {"mini chain goes on past the mini FAT", 3, [](Sample& s) { s.setMiniFat(2, 1000); },
     "the mini sector chain of the stream of directory entry 2 leads to mini sector 1000, "
     "beyond the mini FAT's 128 entries"},
    {"mini chain goes on past the mini stream", 3, [](Sample& s) { s.setMiniFat(1, 5); },
     "the mini sector chain of the stream of directory entry 1 leads to mini sector 5, "
     "outside the 192-byte mini stream"},
    {"two streams of one name", 3, [](Sample& s) { s.setEntry(2, u"small", 2, 2, 10); },
     "directory entry 1 ('small') has the same name as entry 2 in its storage"},
    {"package without tables", 3, [](Sample& s) { s.file[s.entry(0) + 0x50] = 0x84; },
     "it has no _StringPool stream"},
};

TEST(CompoundFileTest, RefusesDamagedFilesWithWhatIsWrong) {
    for (const DamageCase& c : kDamageCases) {
        Sample sample(c.version);
        c.damage(sample);
        const std::string error = bmtest::errorOf([&] { check(sample.file); });
        EXPECT_NE(error.find(c.expected), std::string::npos)
            << c.name << ": expected \"" << c.expected << "\", got \"" << error << "\"";
    }
}

// Names every reader must read alike; the sample's tree is "small" with
// "tiny" to its left and "bigger" to its right.
const DamageCase kNameCases[] = {
    {"NUL inside an encoded table name", 3,
     [](Sample& s) {
         s.setEntry(2, image::InstallerTables::encodeName("Prop", true) + u'\0' + u'X', 2, 2, 10);
     },
     "directory entry 2 ('!Prop\\x00X') has a NUL inside its name, before the 12 bytes its "
     "name size gives"},
    {"name size shorter than the name", 3, [](Sample& s) { s.put16(s.entry(2) + 0x40, 6); },
     "directory entry 2 ('tin') has no NUL where its name size (6 bytes) ends it"},
    {"name size 0", 3, [](Sample& s) { s.put16(s.entry(2) + 0x40, 0); },
     "directory entry 2 gives its name 0 bytes (an even number from 2 to 64)"},
    {"control character inside", 3, [](Sample& s) { s.setEntry(2, u"t\x05ny", 2, 2, 10); },
     "directory entry 2 ('t\\x05ny') has the control character 0x5 after its first character"},
    {"slash", 3, [](Sample& s) { s.setEntry(2, u"t/ny", 2, 2, 10); },
     "has '/' in its name, which compound file names may not hold"},
    {"surrogate", 3, [](Sample& s) { s.setEntry(2, u"t\xD800ny", 2, 2, 10); },
     "directory entry 2 ('t\\uD800ny') has the surrogate 0xD800 in its name"},
    {"Latin letter", 3, [](Sample& s) { s.setEntry(2, u"t\u00EDny", 2, 2, 10); },
     "has the character 0xED in its name, outside ASCII and the installer's name encoding"},
    {"encoded otherwise than the encoder does", 3,
     [](Sample& s) { s.setEntry(2, u"\x480A\x480B", 2, 2, 10); },
     "directory entry 2 ('AB') is not stored the way the installer's name encoding stores it"},
    {"plain and encoded", 4,
     [](Sample& s) {
         s.setEntry(2, u"AB", 2, 2, 10);
         s.put32(s.entry(2) + 0x44, 4);
         s.setEntry(4, image::InstallerTables::encodeName("AB", false), 2, kEnd, 0);
     },
     "directory entry 2 ('AB') reads as the name of entry 4 in its storage once the installer's "
     "name encoding is undone"},
    {"same name in another case", 3, [](Sample& s) { s.setEntry(2, u"SMALL", 2, 2, 10); },
     "directory entry 1 ('small') has the same name as entry 2 in its storage (names compare in "
     "upper case)"},
    {"storage of a stream's name", 3,
     [](Sample& s) {
         s.setEntry(3, u"Small", 1, 0, 0);
         s.put64(s.entry(1) + 0x78, 5010);
     },
     "directory entry 3 ('Small') has the same name as entry 1"},
    {"longer name to the left", 3, [](Sample& s) { s.setEntry(3, u"big", 2, 4, 5000); },
     "directory entry 3 ('big') is out of order in its storage: a reader that searches the tree "
     "would not find it"},
    {"order compared in upper case", 3, [](Sample& s) { s.setEntry(2, u"Zebra", 2, 2, 10); },
     "directory entry 1 ('small') is out of order in its storage"},
    {"order inside a storage", 4,
     [](Sample& s) {
         s.file[s.entry(3) + 0x42] = 1;
         s.put32(s.entry(3) + 0x4C, 4);
         s.setEntry(4, u"b", 2, kEnd, 0);
         s.put32(s.entry(4) + 0x44, 5);
         s.setEntry(5, u"c", 2, kEnd, 0);
     },
     "directory entry 4 ('b') is out of order in its storage"},
};

TEST(CompoundFileTest, RefusesNamesReadersReadDifferently) {
    for (const DamageCase& c : kNameCases) {
        Sample sample(c.version);
        c.damage(sample);
        const std::string error = bmtest::errorOf([&] { check(sample.file); });
        EXPECT_NE(error.find(c.expected), std::string::npos)
            << c.name << ": got \"" << error << "\"";
    }
}

TEST(CompoundFileTest, AcceptsNamesInTheFormatsOrder) {
    Sample sample;
    sample.setEntry(2, image::InstallerTables::encodeName("Prop", true), 2, 2, 10);
    sample.setEntry(3, u"\x05SummaryInformation", 2, 4, 5000);
    EXPECT_EQ(check(sample.file), Kind::Other);
    // '_' sorts after 'S' but before 's'.
    sample.setEntry(3, u"_mall", 2, 4, 5000);
    EXPECT_EQ(check(sample.file), Kind::Other);
}

TEST(CompoundFileTest, RaisesFormatErrors) {
    Sample sample;
    sample.setFat(13, 4);
    EXPECT_THROW(check(sample.file), image::FormatError);
}

TEST(CompoundFileTest, TellsTheKindByTheRootsClass) {
    const struct {
        std::uint8_t firstByte;
        Kind kind;
    } cases[] = {{0x86, Kind::Patch}, {0x82, Kind::Transform}, {0x83, Kind::Other}};
    for (unsigned version : {3u, 4u}) {
        for (const auto& c : cases) {
            Sample sample(version);
            sample.file[sample.entry(0) + 0x50] = c.firstByte;
            EXPECT_EQ(check(sample.file), c.kind)
                << "version " << version << ", class byte " << int{c.firstByte};
        }
    }
    Sample noClass;
    std::fill_n(noClass.file.begin() + noClass.entry(0) + 0x50, 16, 0);
    EXPECT_EQ(check(noClass.file), Kind::Other);
}

TEST(CompoundFileTest, IgnoresTheHighHalfOfVersion3Sizes) {
    Sample sample(3);
    sample.put32(sample.entry(3) + 0x7C, 0xDEADBEEF);
    sample.put32(sample.entry(0) + 0x7C, 0xFFFFFFFF);
    EXPECT_EQ(check(sample.file), Kind::Other);
}

TEST(CompoundFileTest, AcceptsALastSectorCutAfterItsData) {
    // The big stream uses 392 bytes of its last sector.
    Sample sample(3);
    sample.file.resize(sample.file.size() - 512 + 392);
    EXPECT_EQ(check(sample.file), Kind::Other);
}

// A version 3 file of `count` empty streams under the root, hung in one chain
// of right siblings or in a balanced tree, made at test time.
Bytes directoryOf(std::uint32_t count, bool chained) {
    const std::uint64_t dirSectors = (count + 1 + 3) / 4;
    std::uint64_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + dirSectors) {
        ++fatSectors;
    }
    Sample s;
    s.file.assign((1 + fatSectors + dirSectors) * 512, 0);
    std::copy_n(Sample().file.begin(), 0x4C, s.file.begin());
    s.put32(0x2C, fatSectors);
    s.put32(0x30, fatSectors);
    s.put32(0x3C, kEnd);
    s.put32(0x40, 0);
    for (std::uint64_t i = 0; i < 109; ++i) {
        s.put32(0x4C + 4 * i, i < fatSectors ? i : kFree);
    }
    for (std::uint64_t i = 0; i < fatSectors * 128; ++i) {
        const std::uint64_t last = fatSectors + dirSectors - 1;
        s.put32(512 + 4 * i, i < fatSectors ? 0xFFFFFFFD
                             : i < last     ? i + 1
                             : i == last    ? kEnd
                                            : kFree);
    }
    const auto at = [&](std::uint32_t id) { return (1 + fatSectors) * 512 + 128 * id; };
    for (std::uint32_t id = 0; id < dirSectors * 4; ++id) {
        for (std::size_t link : {0x44, 0x48, 0x4C}) {
            s.put32(at(id) + link, kFree);
        }
        if (id <= count) {
            const std::string digits = std::to_string(id);
            const std::u16string name =
                id == 0 ? u"Root Entry" : std::u16string(digits.begin(), digits.end());
            for (std::size_t i = 0; i < name.size(); ++i) {
                s.put16(at(id) + 2 * i, name[i]);
            }
            s.put16(at(id) + 0x40, static_cast<std::uint16_t>(2 * name.size() + 2));
            s.file[at(id) + 0x42] = id == 0 ? 5 : 2;
            s.put32(at(id) + 0x74, kEnd);
        }
    }
    const std::function<std::uint32_t(std::uint32_t, std::uint32_t)> balance =
        [&](std::uint32_t first, std::uint32_t end) -> std::uint32_t {
        if (first >= end) {
            return kFree;
        }
        const std::uint32_t middle = first + (end - first) / 2;
        s.put32(at(middle) + 0x44, balance(first, middle));
        s.put32(at(middle) + 0x48, balance(middle + 1, end));
        return middle;
    };
    for (std::uint32_t id = 1; chained && id < count; ++id) {
        s.put32(at(id) + 0x48, id + 1);
    }
    s.put32(at(0) + 0x4C, chained ? 1 : balance(1, count + 1));
    return s.file;
}

TEST(CompoundFileTest, BoundsTheDirectoryTreesDepthAndEntries) {
    const struct {
        std::uint32_t count;
        bool chained;
        const char* expected;
    } cases[] = {
        {4096, true, "<no error>"},
        {4097, true, "the directory tree is more than 4096 links deep (at entry 4097)"},
        {8192, false, "<no error>"},
        {8193, false, "the directory tree has more than 8192 entries"},
    };
    for (const auto& c : cases) {
        const Bytes file = directoryOf(c.count, c.chained);
        EXPECT_EQ(bmtest::errorOf([&] { EXPECT_EQ(check(file), Kind::Other); }), c.expected)
            << c.count << (c.chained ? " chained" : " balanced");
    }
}

TEST(CompoundFileTest, AcceptsPackagesMadeByWixl) {
    int packages = 0;
    for (const char* folder : {BRUMLET_IMAGE_TEST_DATA, BRUMLET_IMAGE_TEST_PACKAGES}) {
        if (!std::filesystem::is_directory(folder)) {
            continue;
        }
        for (const auto& item : std::filesystem::directory_iterator(folder)) {
            if (item.path().extension() != ".msi") {
                continue;
            }
            const Bytes file = readFile(item.path());
            EXPECT_TRUE(image::CompoundFile::hasSignature(file.data(), file.size())) << item.path();
            EXPECT_EQ(bmtest::errorOf([&] { EXPECT_EQ(check(file), Kind::Package); }), "<no error>")
                << item.path();
            ++packages;
        }
    }
    EXPECT_GE(packages, 1);
}

}  // namespace
