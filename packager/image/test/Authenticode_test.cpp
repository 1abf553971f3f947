#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "Authenticode.h"
#include "ErrorOf.h"
#include "TestImages.h"

using namespace testimage;

namespace {

const std::uint32_t checksum = optionalHeader + 64;
const std::uint32_t certificateEntry = optionalHeader + 112 + 8 * 4;
// A DER SEQUENCE standing in for the PKCS#7 signature: the core reads its
// header only.
const Bytes signatureDer = {0x30, 0x03, 0x02, 0x01, 0x05};

// The stub image signed as osslsigncode does: the file padded to 8 bytes,
// then one certificate entry padded to 8 bytes.
Bytes signedImage(const Bytes& der = signatureDer) {
    Bytes b = stubImage();
    b.resize((b.size() + 7) & ~std::size_t(7));
    const std::uint32_t table = static_cast<std::uint32_t>(b.size());
    const std::uint32_t length = static_cast<std::uint32_t>(8 + der.size());
    put32(b, table, length);
    put16(b, table + 4, 0x200);
    put16(b, table + 6, 2);
    b.insert(b.end(), der.begin(), der.end());
    b.resize((b.size() + 7) & ~std::size_t(7));
    put32(b, certificateEntry, table);
    put32(b, certificateEntry + 4, static_cast<std::uint32_t>(b.size() - table));
    return b;
}

image::Authenticode::Signed readSigned(const Bytes& b) {
    const image::PeFile pe(b.data(), b.size());
    pe.checkLayout();
    return image::Authenticode::read(pe);
}

// The bytes the digest covers, one after the other.
Bytes covered(const Bytes& b) {
    Bytes all;
    for (const image::ByteView& r : readSigned(b).ranges) {
        all.insert(all.end(), r.data(), r.data() + r.size());
    }
    return all;
}

TEST(Authenticode, CoversTheFileUpToTheTableLessTheFieldsSigningChanges) {
    const Bytes b = signedImage();
    const std::uint32_t table = get32(b, certificateEntry);
    EXPECT_EQ(covered(b).size(), table - 4 - 8);
    const image::Authenticode::Signed found = readSigned(b);
    EXPECT_EQ(Bytes(found.signature.data(), found.signature.data() + found.signature.size()),
              signatureDer);

    // Each change to a covered byte shows; the checksum and the table's
    // directory entry, which signing writes, do not.
    Bytes mended = b;
    put32(mended, checksum, 0x1234);
    EXPECT_EQ(covered(mended), covered(b));
    for (const std::uint32_t at : {0x3au, optionalHeader + 40, checksum + 4, certificateEntry - 1,
                                   certificateEntry + 8, 0x400u, table - 1}) {
        Bytes changed = b;
        changed[at] ^= 1;
        EXPECT_NE(covered(changed), covered(b)) << "byte " << at;
    }
    // So does a byte between sections, where .text is made shorter.
    Bytes gap = b;
    put32(gap, sectionTable + 16, 0x100);
    const Bytes before = covered(gap);
    gap[0x500] ^= 1;
    EXPECT_NE(covered(gap), before);
}

TEST(Authenticode, OnlyACertificateTableCountsAsSigned) {
    const Bytes plain = stubImage();
    const Bytes b = signedImage();
    EXPECT_FALSE(image::Authenticode::isSigned(image::PeFile(plain.data(), plain.size())));
    EXPECT_TRUE(image::Authenticode::isSigned(image::PeFile(b.data(), b.size())));
}

class DamagedSignature : public testing::TestWithParam<Damage> {};

// What readers of the signature could read differently, or not at all, is
// refused with words that say where.
TEST_P(DamagedSignature, IsRefused) {
    Bytes b = signedImage();
    GetParam().apply(b);
    EXPECT_THAT(bmtest::errorOf([&] { readSigned(b); }), testing::HasSubstr(GetParam().words));
}

std::uint32_t tableOf(const Bytes& b) {
    return get32(b, certificateEntry);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, DamagedSignature,
    testing::Values(
        Damage{"table past the end", [](Bytes& b) { put32(b, certificateEntry + 4, 0xfffffff0); },
               "(0xfffffff0 bytes) lies outside the file"},
        Damage{"bytes after the table", [](Bytes& b) { b.resize(b.size() + 8); },
               "0x8 bytes follow the certificate table"},
        Damage{"table not aligned",
               [](Bytes& b) {
                   b.insert(b.begin() + tableOf(b), 4, 0);
                   put32(b, certificateEntry, tableOf(b) + 4);
               },
               "is not aligned to 8 bytes"},
        Damage{"table inside a section",
               [](Bytes& b) {
                   const std::uint32_t size = static_cast<std::uint32_t>(b.size() - 0x400);
                   put32(b, certificateEntry, 0x400);
                   put32(b, certificateEntry + 4, size);
               },
               "lies inside the sections' data"},
        Damage{"old revision", [](Bytes& b) { put16(b, tableOf(b) + 4, 0x100); },
               "revision 0x100, not 0x200"},
        Damage{"X.509 entry", [](Bytes& b) { put16(b, tableOf(b) + 6, 1); },
               "of type 0x1, not a PKCS#7 signature"},
        Damage{"entry longer than the table", [](Bytes& b) { put32(b, tableOf(b), 0x100); },
               "length 0x100 does not fit"},
        Damage{"a second entry",
               [](Bytes& b) {
                   const Bytes second(b.begin() + tableOf(b), b.end());
                   b.insert(b.end(), second.begin(), second.end());
                   put32(b, certificateEntry + 4, static_cast<std::uint32_t>(2 * second.size()));
               },
               "holds 0x13 bytes beside its one signature"},
        Damage{"padding not zero", [](Bytes& b) { b.back() = 1; }, "beside its one signature"},
        Damage{"no DER sequence", [](Bytes& b) { b[tableOf(b) + 8] = 0x31; },
               "no PKCS#7 signature"},
        Damage{"DER longer than the entry", [](Bytes& b) { b[tableOf(b) + 9] = 0x10; },
               "length 0x10 runs past its certificate entry"},
        Damage{"DER length of five bytes", [](Bytes& b) { b[tableOf(b) + 9] = 0x85; },
               "length is malformed"}));

}  // namespace
