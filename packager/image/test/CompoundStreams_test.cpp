#include "CompoundStreams.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::u16string signature =
    u"\x05"
    u"DigitalSignature";
const std::u16string summary =
    u"\x05"
    u"SummaryInformation";

Bytes minimalPackage() {
    std::ifstream in(BRUMLET_IMAGE_TEST_DATA "/minimal.msi", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

bool has(const Bytes& b, const std::u16string& name) {
    return image::CompoundStreams::has(b.data(), b.size(), name);
}

TEST(CompoundStreams, FindsStreamsByTheirWholeName) {
    const Bytes msi = minimalPackage();
    ASSERT_GT(msi.size(), 1536u);
    EXPECT_TRUE(has(msi, summary));
    EXPECT_FALSE(has(msi, signature));
    EXPECT_FALSE(has(msi,
                     u"\x05"
                     u"Summary"));
    EXPECT_FALSE(has(msi, u"Root Entry"));  // a storage, not a stream
}

// An entry that no tree reaches, or that lies in another storage's tree, is
// no stream of the root storage to Windows' reader.
TEST(CompoundStreams, FindsOnlyWhatTheRootsTreeHolds) {
    Bytes msi = minimalPackage();
    std::size_t unused = (le32(msi, 48) + 1) * 512;
    while (unused + 128 <= msi.size() && msi[unused + 66] != 0) {
        unused += 128;
    }
    ASSERT_LE(unused + 128, msi.size());
    for (std::size_t i = 0; i < signature.size(); ++i) {
        msi[unused + 2 * i] = static_cast<std::uint8_t>(signature[i]);
    }
    msi[unused + 64] = static_cast<std::uint8_t>(2 * signature.size() + 2);
    msi[unused + 66] = 2;
    EXPECT_FALSE(has(msi, signature));
    EXPECT_TRUE(has(msi, summary));
}

// Damaged directories end the search, in bounded time, without a find.
TEST(CompoundStreams, DamageEndsTheSearch) {
    const struct {
        const char* what;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"cut to the header", [](Bytes& b) { b.resize(512); }},
        {"cut before the header ends", [](Bytes& b) { b.resize(100); }},
        {"sector shift 0", [](Bytes& b) { b[30] = 0; }},
        {"sector shift 31", [](Bytes& b) { b[30] = 31; }},
        {"directory past the end", [](Bytes& b) { put32(b, 48, 0x00FFFFFF); }},
        {"more FAT sectors than the file has", [](Bytes& b) { put32(b, 44, 0xFFFFFFFF); }},
        {"FAT sector past the end", [](Bytes& b) { put32(b, 76, 0x00FFFFFF); }},
        {"DIFAT chain that loops",
         [](Bytes& b) {
             put32(b, 44, 110);
             put32(b, 68, 0);
         }},
        {"directory chain that loops",
         [](Bytes& b) {
             const std::uint32_t fat = le32(b, 76);
             const std::uint32_t dir = le32(b, 48);
             put32(b, (fat + 1) * 512 + 4 * (dir % 128), dir);
         }},
    };
    for (const auto& c : cases) {
        Bytes msi = minimalPackage();
        c.damage(msi);
        EXPECT_FALSE(has(msi, signature)) << c.what;
    }
}

}  // namespace
