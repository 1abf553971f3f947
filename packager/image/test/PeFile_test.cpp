#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "ErrorOf.h"
#include "TestImages.h"

using namespace testimage;

namespace {

class DamagedImage : public testing::TestWithParam<Damage> {};

// Every image here is read as a stub, the strictest reader: each damage must
// come back as one FormatError with words that say what is wrong.
TEST_P(DamagedImage, IsRefusedWithWordsSayingWhy) {
    Bytes b = stubImage();
    GetParam().apply(b);
    EXPECT_THAT(bmtest::errorOf([&] { checkStub(b); }), testing::HasSubstr(GetParam().words));
}

const std::uint32_t numberOfSections = fileHeader + 2;
const std::uint32_t sizeOfOptionalHeader = fileHeader + 16;
const std::uint32_t characteristics = fileHeader + 18;
const std::uint32_t sectionAlignment = optionalHeader + 32;
const std::uint32_t fileAlignment = optionalHeader + 36;
const std::uint32_t sizeOfImage = optionalHeader + 56;
const std::uint32_t sizeOfHeaders = optionalHeader + 60;
const std::uint32_t subsystem = optionalHeader + 68;
const std::uint32_t directoryCount = optionalHeader + 108;
const std::uint32_t certificateSize = optionalHeader + 112 + 8 * 4 + 4;
// The header of the stub's second section (its resources).
const std::uint32_t second = sectionTable + 40;

auto truncate(std::size_t size) {
    return [size](Bytes& b) { b.resize(size); };
}
auto set16(std::uint32_t at, std::uint16_t v) {
    return [=](Bytes& b) { put16(b, at, v); };
}
auto set32(std::uint32_t at, std::uint32_t v) {
    return [=](Bytes& b) { put32(b, at, v); };
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DamagedImage,
    testing::Values(
        Damage{"empty", truncate(0), "not a Windows executable (no MZ signature)"},
        Damage{"cut in the DOS header", truncate(40), "the DOS header is cut short"},
        Damage{"cut in the file header", truncate(peOffset + 10), "the PE header at 0x40"},
        Damage{"cut in the optional header", truncate(optionalHeader + 100),
               "the optional header at 0x58 (0xf0 bytes) lies outside the file"},
        Damage{"cut in the section table", truncate(sectionTable + 50),
               "the section table at 0x148 (0x50 bytes) lies outside the file"},
        Damage{"MZ flipped", set16(0, 0x4d5b), "no MZ signature"},
        Damage{"PE header far out", set32(0x3c, 0xfffffff0),
               "the PE header at 0xfffffff0 (0x1a bytes) lies outside the file"},
        Damage{"PE signature flipped", set32(peOffset, 0x4551), "no PE signature at 0x40"},
        Damage{"32-bit", set16(optionalHeader, 0x10b), "a 32-bit (PE32) image"},
        Damage{"unknown magic", set16(optionalHeader, 0x30b), "unknown magic 0x30b"},
        Damage{"optional header huge", set16(sizeOfOptionalHeader, 0xffff),
               "the optional header at 0x58 (0xffff bytes) lies outside the file"},
        Damage{"optional header tiny", set16(sizeOfOptionalHeader, 16), "size 0x10 is too small"},
        Damage{"directories overflow the optional header",
               [](Bytes& b) {
                   put16(b, sizeOfOptionalHeader, 112 + 8);
                   put32(b, directoryCount, 1000);
               },
               "16 data directories do not fit in its 120 bytes"},
        Damage{"65535 sections", set16(numberOfSections, 0xffff),
               "the section table at 0x148 (0x27ffd8 bytes) lies outside the file"}));

INSTANTIATE_TEST_SUITE_P(
    NotAStub, DamagedImage,
    testing::Values(
        Damage{"x86", set16(fileHeader, 0x14c), "is not a 64-bit Windows GUI program (PE32+)"},
        Damage{"console", set16(subsystem, 3), "is not a 64-bit Windows GUI program (PE32+)"},
        Damage{"DLL", set16(characteristics, 0x2022), "is a DLL, not a program"},
        Damage{"signed", set32(certificateSize, 0x100), "is signed and wrapping would break"},
        Damage{"unmarked", [](Bytes& b) { b = bareImage(); }, "is not Brumlet's stub"}));

INSTANTIATE_TEST_SUITE_P(
    Layout, DamagedImage,
    testing::Values(
        Damage{"file alignment 0", set32(fileAlignment, 0), "file alignment 0x0 is not"},
        Damage{"file alignment 0x300", set32(fileAlignment, 0x300), "file alignment 0x300"},
        Damage{"file alignment 256", set32(fileAlignment, 0x100), "file alignment 0x100"},
        Damage{"file alignment 128 KiB", set32(fileAlignment, 0x20000), "file alignment 0x20000"},
        Damage{"section alignment 0", set32(sectionAlignment, 0), "section alignment 0x0 is"},
        Damage{"section alignment 0x1001", set32(sectionAlignment, 0x1001),
               "section alignment 0x1001"},
        Damage{"section alignment below the file's", set32(sectionAlignment, 0x100),
               "section alignment 0x100 is not a power of two at least its file alignment"},
        Damage{"headers 0", set32(sizeOfHeaders, 0), "headers' size 0x0 does not fit"},
        Damage{"headers 0xFFFFF000", set32(sizeOfHeaders, 0xfffff000),
               "headers' size 0xfffff000 does not fit"},
        Damage{"no room for a section header", set32(sizeOfHeaders, second + 40 + 20),
               "no room for another section header"},
        Damage{"section header slot in use", set32(second + 40 + 36, 1),
               "no room for another section header"},
        Damage{"section data outside the file", set32(second + 20, 0xffffff00),
               "lies outside the file"},
        Damage{"section data cut short", [](Bytes& b) { b.resize(b.size() - 0x100); },
               "lies outside the file"},
        Damage{"section data in the headers", set32(sectionTable + 20, 0x200),
               "the data of section 0x1000 at 0x200 (0x200 bytes) lies outside the file's "
               "sections"},
        Damage{"section past the image", set32(sizeOfImage, 0x1800),
               "is misplaced in the image of 0x1800 bytes"},
        Damage{"section ends above 4 GiB",
               [](Bytes& b) {
                   put32(b, sectionTable + 12, 0xfffff000);
                   put32(b, sectionTable + 8, 0x2000);
                   put32(b, sizeOfImage, 0xffffffff);
               },
               "section 0xfffff000 (0x2000 bytes) is misplaced"},
        Damage{"section of VirtualSize 0 mapped past the image",
               [](Bytes& b) {
                   put32(b, second + 8, 0);
                   put32(b, sizeOfImage, rsrcRva + 0x10);
               },
               "section 0x2000 (0x200 bytes) is misplaced in the image of 0x2010 bytes"}));

// Setup programs are read with the stub's layout checks, without its mark.
TEST(PeFile, ChecksTheLayoutOfAnyProgram) {
    Bytes b = bareImage();
    EXPECT_EQ(bmtest::errorOf([&] { image::PeFile(b.data(), b.size()).checkLayout(); }),
              "<no error>");
    put16(b, numberOfSections, 20);
    EXPECT_THAT(bmtest::errorOf([&] { image::PeFile(b.data(), b.size()).checkLayout(); }),
                testing::HasSubstr("its section table of 20 sections runs to 0x468, past the "
                                   "headers' size 0x400"));
}

TEST(PeFile, ReadsTheHeadersOfAValidImage) {
    const Bytes b = stubImage();
    const image::PeFile pe(b.data(), b.size());
    EXPECT_EQ(pe.machine(), image::PeFile::machineAmd64);
    EXPECT_EQ(pe.subsystem(), image::PeFile::subsystemWindowsGui);
    EXPECT_EQ(pe.fileAlignment(), 0x200u);
    ASSERT_EQ(pe.sections().size(), 2u);
    EXPECT_EQ(std::string(pe.sections()[1].name.data(), 5), ".rsrc");
    EXPECT_EQ(pe.checksumOffset(), optionalHeader + 64u);
    EXPECT_EQ(pe.atRva(textRva, 1, "code").data()[0], 0xc3);
    EXPECT_NO_THROW(checkStub(b));
}

TEST(PeFile, MapsOnlyRangesInsideASectionsFileData) {
    const Bytes b = stubImage();
    const image::PeFile pe(b.data(), b.size());
    // .text has 0x10 bytes in memory and 0x200 in the file: only the first
    // 0x10 are its contents; a range into the zero-filled rest of the page has
    // no file bytes.
    EXPECT_NO_THROW(pe.atRva(textRva, 0x10, "code"));
    EXPECT_THAT(bmtest::errorOf([&] { pe.atRva(textRva + 8, 0x10, "code"); }),
                testing::HasSubstr("code at RVA 0x1008 (0x10 bytes) runs past the end"));
    EXPECT_THAT(bmtest::errorOf([&] { pe.atRva(textRva + 0x100, 1, "code"); }),
                testing::HasSubstr("lies outside the sections' data"));
    EXPECT_THAT(bmtest::errorOf([&] { pe.atRva(0, 1, "the headers"); }),
                testing::HasSubstr("lies outside the sections' data"));
}

}  // namespace
