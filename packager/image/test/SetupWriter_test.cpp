#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <future>

#include "Checksum.h"
#include "ErrorOf.h"
#include "Sha256.h"
#include "TestImages.h"
#include "VersionInfo.h"

using namespace testimage;
using image::ResourceTree;

namespace {

const std::u16string msi = u"MSI";
const std::u16string productCode = u"PRODUCT_CODE";

Bytes package() {
    Bytes b(3001);
    for (std::size_t i = 0; i < b.size(); ++i) {
        b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return b;
}

struct SetupInputs {
    Bytes stub = stubImage();
    Bytes packageBytes = package();
    std::string code = "{12345678-1234-1234-1234-123456789ABC}";
    std::vector<std::uint8_t> version;

    // `presum`: the package's sum comes from the caller, as the tool gives it.
    Bytes write(bool presum = false) {
        const image::PeFile pe(stub.data(), stub.size());
        ResourceTree tree = ResourceTree::read(pe);
        image::Stub::check(pe, tree);
        image::VersionInfo info;
        info.setVersion("1.2.3");
        info.setString("ProductName", "Test");
        version = info.bytes();
        tree.set(image::ResourceType::rcdata, msi, 0, view(packageBytes));
        tree.set(image::ResourceType::rcdata, productCode, 0, view(code));
        tree.set(image::ResourceType::version, 1, 0x409, view(version));
        image::SetupWriter::Presummed summed;
        summed.data = view(packageBytes);
        std::promise<image::Checksum> sum;
        summed.sum = sum.get_future().share();
        image::Checksum packageSum;
        packageSum.add(packageBytes.data(), packageBytes.size());
        sum.set_value(packageSum);
        MemorySink sink;
        image::SetupWriter::write(pe, tree, sink, presum ? &summed : nullptr);
        EXPECT_EQ(sink.bytes.size(), image::SetupWriter::outputSize(pe, tree));
        return sink.bytes;
    }
};

std::string text(const image::ByteView& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size());
}

TEST(SetupWriter, CarriesThePackageAndKeepsTheStubsResources) {
    SetupInputs setup;
    const Bytes out = setup.write();
    const image::PeFile pe(out.data(), out.size());
    const ResourceTree tree = ResourceTree::read(pe);

    ASSERT_TRUE(tree.has(image::ResourceType::rcdata, msi));
    EXPECT_EQ(text(*tree.find(image::ResourceType::rcdata, msi)), text(view(setup.packageBytes)));
    EXPECT_EQ(text(*tree.find(image::ResourceType::rcdata, productCode)), setup.code);
    EXPECT_EQ(text(*tree.find(image::ResourceType::manifest, 1)), manifestText());
    EXPECT_EQ(text(*tree.find(image::ResourceType::rcdata, image::Stub::markName)), markText());
    // A setup program is no stub.
    EXPECT_THAT(bmtest::errorOf([&] { image::Stub::check(pe, tree); }),
                testing::HasSubstr("already carries a package"));
}

// A package of a page or more starts on a page of the file, so that the
// kernel can copy it to and from a package file page by page; the sizes the
// writer announces still hold.
TEST(SetupWriter, StartsALargePackageOnAPage) {
    for (const std::size_t size : {4095u, 4096u, 70001u}) {
        SetupInputs setup;
        setup.packageBytes.resize(size, 0x5A);
        const Bytes out = setup.write();
        const image::PeFile pe(out.data(), out.size());
        const ResourceTree tree = ResourceTree::read(pe);
        const image::ByteView* inside = tree.find(image::ResourceType::rcdata, msi);
        ASSERT_NE(inside, nullptr);
        EXPECT_EQ(text(*inside), text(view(setup.packageBytes)));
        EXPECT_EQ((inside->data() - out.data()) % 4096 == 0, size >= 4096) << size;
    }
}

TEST(SetupWriter, AppendsAPageAlignedSectionAndMendsTheHeaders) {
    SetupInputs setup;
    const Bytes out = setup.write();
    const image::PeFile stub(setup.stub.data(), setup.stub.size());
    const image::PeFile pe(out.data(), out.size());

    ASSERT_EQ(pe.sections().size(), stub.sections().size() + 1);
    EXPECT_EQ(std::string(pe.sections()[1].name.data()), ".rsrc~");
    const auto& added = pe.sections().back();
    EXPECT_EQ(std::string(added.name.data()), ".rsrc");
    // A loader maps the package from the file only from a page boundary.
    EXPECT_EQ(added.pointerToRawData % 4096, 0u);
    EXPECT_EQ(added.virtualAddress % 4096, 0u);
    EXPECT_GE(added.pointerToRawData, setup.stub.size());
    EXPECT_EQ(added.sizeOfRawData % pe.fileAlignment(), 0u);
    EXPECT_EQ(std::uint64_t(added.pointerToRawData) + added.sizeOfRawData, out.size());
    EXPECT_EQ(pe.directory(image::PeFile::resourceDirectory).rva, added.virtualAddress);
    EXPECT_EQ(pe.sizeOfImage(), (added.virtualAddress + added.virtualSize + 0xfffu) & ~0xfffu);
    EXPECT_EQ(pe.sizeOfInitializedData(), stub.sizeOfInitializedData() + added.sizeOfRawData);
    EXPECT_EQ(get32(out, pe.checksumOffset()),
              image::Checksum::of(out.data(), out.size(), pe.checksumOffset()));
    // The stub's own bytes are copied but for the header fields above.
    EXPECT_TRUE(std::equal(setup.stub.begin() + 0x400, setup.stub.end(), out.begin() + 0x400));
}

// Any change in the bytes the writer produces shows here; setup programs
// must come out the same from run to run and from version to version.
TEST(SetupWriter, WritesTheSameBytesAsBefore) {
    SetupInputs setup;
    EXPECT_EQ(sha256(setup.write()),
              "2b624b97ab905101a51922efd6c81a1e543de6ede8e4d41d64d7eb10a44067a5");
    EXPECT_TRUE(setup.write(true) == setup.write()) << "with the package summed beforehand";
}

TEST(SetupWriter, RefusesAnImageOf2GiBBeforeWritingAnything) {
    const Bytes stub = stubImage();
    const image::PeFile pe(stub.data(), stub.size());
    ResourceTree tree = ResourceTree::read(pe);
    // Sizes only: the writer must refuse before it reads a byte.
    tree.set(image::ResourceType::rcdata, msi, 0, image::ByteView(stub.data(), 0x7ffff000));
    MemorySink sink;
    EXPECT_THAT(bmtest::errorOf([&] { image::SetupWriter::write(pe, tree, sink); }),
                testing::HasSubstr("would reach 2 GiB"));
    EXPECT_EQ(sink.bytes.size(), 0u);
    EXPECT_GT(image::SetupWriter::outputSize(pe, tree), image::SetupWriter::maxImageSize);
    EXPECT_THAT(
        bmtest::errorOf([&] { tree.set(10, 1, 0, image::ByteView(stub.data(), 1ull << 32)); }),
        testing::HasSubstr("is too large"));
}

// A section ending above 4 GiB must not be cut to 32 bits, which would
// place the new section over the stub's code.
TEST(SetupWriter, RefusesAStubThatEndsAbove4GiB) {
    Bytes stub = stubImage();
    put32(stub, sectionTable + 12, 0xfffff000);
    put32(stub, sectionTable + 8, 0x3000);
    const image::PeFile pe(stub.data(), stub.size());
    const ResourceTree tree;
    MemorySink sink;
    EXPECT_THAT(bmtest::errorOf([&] { image::SetupWriter::write(pe, tree, sink); }),
                testing::HasSubstr("would reach 2 GiB"));
    EXPECT_EQ(sink.bytes.size(), 0u);
}

TEST(Checksum, IsTheSameHoweverTheBytesAreCut) {
    Bytes data(1001);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(0xff - i);
    }
    image::Checksum whole;
    whole.add(data.data(), data.size());
    for (std::size_t piece : {1, 3, 5, 64, 999}) {
        image::Checksum pieces;
        for (std::size_t at = 0; at < data.size(); at += piece) {
            pieces.add(&data[at], std::min(piece, data.size() - at));
        }
        EXPECT_EQ(pieces.value(), whole.value()) << piece;
    }
    // Runs summed apart combine where the first ends on a word boundary.
    for (std::size_t cut : {0, 4, 8, 1000}) {
        image::Checksum first;
        image::Checksum rest;
        first.add(data.data(), cut);
        rest.add(&data[cut], data.size() - cut);
        EXPECT_TRUE(first.add(rest));
        EXPECT_EQ(first.value(), whole.value()) << cut;
    }
    image::Checksum odd;
    odd.add(data.data(), 3);
    EXPECT_FALSE(odd.add(whole));
}

TEST(Checksum, FoldsCarriesAndAddsTheLength) {
    // 0xffff + 0x0002 folds to 0x0002, plus 4 bytes.
    const Bytes data = {0xff, 0xff, 0x02, 0x00};
    EXPECT_EQ(image::Checksum::of(data.data(), data.size(), 100), 6u);
    // The checksum field itself counts as zeros, even at the end.
    EXPECT_EQ(image::Checksum::of(data.data(), data.size(), 2), 0xffffu + 4);
    EXPECT_EQ(image::Checksum::of(data.data(), data.size(), 1), 0xffu + 4);
}

TEST(Sha256, HashesAsSpecified) {
    EXPECT_EQ(sha256(Bytes()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256(Bytes{'a', 'b', 'c'}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
