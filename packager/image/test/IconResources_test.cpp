#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "ErrorOf.h"
#include "IconResources.h"
#include "TestImages.h"

using namespace testimage;
using image::IconResources;

namespace {

// An .ico file of two images: a bitmap (its 40-byte header first) and a PNG.
Bytes icoFile() {
    const Bytes bitmap = [] {
        Bytes b(56, 0x11);
        put32(b, 0, 40);
        return b;
    }();
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 1, 2, 3, 4};
    Bytes b(6 + 2 * 16);
    put16(b, 2, 1);
    put16(b, 4, 2);
    const auto entry = [&b](std::uint32_t at, std::uint8_t width, const Bytes& data,
                            std::uint32_t offset) {
        b[at] = width;
        b[at + 1] = width;
        put16(b, at + 4, 1);
        put16(b, at + 6, 32);
        put32(b, at + 8, static_cast<std::uint32_t>(data.size()));
        put32(b, at + 12, offset);
    };
    entry(6, 16, bitmap, 38);
    entry(22, 0, png, 38 + 56);
    b.insert(b.end(), bitmap.begin(), bitmap.end());
    b.insert(b.end(), png.begin(), png.end());
    return b;
}

TEST(IconResources, TakesAnIcoFileApartIntoImagesAndAGroup) {
    const Bytes ico = icoFile();
    const IconResources icon = IconResources::fromIco(view(ico), 5);
    ASSERT_EQ(icon.images().size(), 2u);
    EXPECT_EQ(icon.images()[0].data(), ico.data() + 38);
    EXPECT_EQ(icon.images()[1].size(), 12u);
    // The group keeps the .ico's header and each entry's 12 bytes of facts,
    // with the RT_ICON id where the .ico had the offset.
    const Bytes expected = {0, 0, 1, 0, 2, 0, 16, 16, 0, 0,  1, 0,  32, 0, 56, 0, 0,
                            0, 5, 0, 0, 0, 0, 0,  1,  0, 32, 0, 12, 0,  0, 0,  6, 0};
    EXPECT_EQ(icon.groupDirectory(), expected);
}

TEST(IconResources, ReadsAnExecutablesIconBackAsWritten) {
    const Bytes ico = icoFile();
    const IconResources icon = IconResources::fromIco(view(ico));
    image::ResourceTree tree;
    icon.addTo(tree, 1, 0);
    const Bytes exe = write(bareImage(), tree);
    const image::PeFile pe(exe.data(), exe.size());
    const IconResources read = IconResources::fromExecutable(pe, image::ResourceTree::read(pe), 1);
    EXPECT_EQ(read.groupDirectory(), icon.groupDirectory());
    ASSERT_EQ(read.images().size(), 2u);
    EXPECT_TRUE(std::equal(ico.begin() + 38, ico.begin() + 38 + 56, read.images()[0].data()));
}

class DamagedIco : public testing::TestWithParam<Damage> {};

TEST_P(DamagedIco, IsRefusedWithWordsSayingWhy) {
    Bytes ico = icoFile();
    GetParam().apply(ico);
    EXPECT_THAT(bmtest::errorOf([&] { IconResources::fromIco(view(ico)); }),
                testing::HasSubstr(GetParam().words));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedIco,
    testing::Values(
        Damage{"empty", [](Bytes& b) { b.clear(); }, "it is not an .ico file"},
        Damage{"cut in the header", [](Bytes& b) { b.resize(5); }, "it is not an .ico file"},
        Damage{"reserved set", [](Bytes& b) { put16(b, 0, 1); }, "it is not an .ico file"},
        Damage{"a cursor", [](Bytes& b) { put16(b, 2, 2); }, "it is not an .ico file"},
        Damage{"no images", [](Bytes& b) { put16(b, 4, 0); }, "an .ico file without images"},
        Damage{"huge count", [](Bytes& b) { put16(b, 4, 0xffff); },
               "the directory of its 65535 images runs past the end"},
        Damage{"cut in the directory", [](Bytes& b) { b.resize(30); },
               "the directory of its 2 images runs past the end"},
        Damage{"image offset outside", [](Bytes& b) { put32(b, 22 + 12, 0xfffffff0); },
               "image 2 of the .ico file lies outside the file"},
        Damage{"image size past the end", [](Bytes& b) { put32(b, 6 + 8, 0x10000); },
               "image 1 of the .ico file lies outside the file"},
        Damage{"image of 0 bytes", [](Bytes& b) { put32(b, 6 + 8, 0); },
               "image 1 of the .ico file lies outside the file"},
        Damage{"cut in the last image", [](Bytes& b) { b.pop_back(); },
               "image 2 of the .ico file lies outside the file"},
        Damage{"image neither bitmap nor PNG", [](Bytes& b) { put32(b, 38, 0x12345678); },
               "image 1 of the .ico file is neither a bitmap nor a PNG"}));

TEST(IconResources, RefusesAnExecutableWhoseIconGroupIsDamaged) {
    const Bytes ico = icoFile();
    const IconResources icon = IconResources::fromIco(view(ico), 3);
    Bytes group = icon.groupDirectory();

    const auto errorFor = [&](const Bytes& groupBytes, bool withImages) {
        image::ResourceTree tree;
        if (withImages) {
            icon.addTo(tree, 1, 0);
        }
        tree.set(image::ResourceType::groupIcon, 1, 0, view(groupBytes));
        const Bytes exe = write(bareImage(), tree);
        const image::PeFile pe(exe.data(), exe.size());
        return bmtest::errorOf(
            [&] { IconResources::fromExecutable(pe, image::ResourceTree::read(pe)); });
    };
    EXPECT_THAT(errorFor(group, false), testing::HasSubstr("names icon image #3, which it lacks"));
    put16(group, 4, 9);
    EXPECT_THAT(errorFor(group, true), testing::HasSubstr("the directory of its 9 images runs"));
    put16(group, 2, 2);
    EXPECT_THAT(errorFor(group, true), testing::HasSubstr("it is not an icon group"));

    const Bytes exe = bareImage();
    const image::PeFile pe(exe.data(), exe.size());
    EXPECT_THAT(
        bmtest::errorOf([&] { IconResources::fromExecutable(pe, image::ResourceTree::read(pe)); }),
        testing::HasSubstr("it has no icon"));
}

}  // namespace
