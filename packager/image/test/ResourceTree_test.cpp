#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "ErrorOf.h"
#include "TestImages.h"

using namespace testimage;
using image::ResourceKey;
using image::ResourceTree;

namespace {

const std::uint32_t subdirectory = 0x80000000u;

// A resource section written by hand: one RCDATA #1, language 0, of four
// bytes, which the damage below then breaks one field at a time.
struct RawTree {
    RawTree() {
        directory(0, 0, 1);
        entry(0, 0, 10, 0x18 | subdirectory);
        directory(0x18, 0, 1);
        entry(0x18, 0, 1, 0x30 | subdirectory);
        directory(0x30, 0, 1);
        entry(0x30, 0, 0, 0x48);
        put32(bytes, 0x48, rsrcRva + 0x58);
        put32(bytes, 0x4c, 4);
        put32(bytes, 0x58, 0x64636261);  // "abcd"
    }
    void directory(std::uint32_t at, std::uint16_t named, std::uint16_t ids) {
        put16(bytes, at + 12, named);
        put16(bytes, at + 14, ids);
    }
    void entry(std::uint32_t directory, std::uint32_t index, std::uint32_t name,
               std::uint32_t target) {
        put32(bytes, directory + 16 + 8 * index, name);
        put32(bytes, directory + 20 + 8 * index, target);
    }
    Bytes bytes;
};

ResourceTree readTree(const Bytes& image) {
    const image::PeFile pe(image.data(), image.size());
    return ResourceTree::read(pe);
}

TEST(ResourceTree, ReadsAHandWrittenTree) {
    const Bytes image = bareImage(RawTree().bytes);
    const ResourceTree tree = readTree(image);
    const image::ByteView* data = tree.find(image::ResourceType::rcdata, 1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->data()), data->size()), "abcd");
    EXPECT_EQ(tree.find(image::ResourceType::rcdata, 2), nullptr);
    EXPECT_EQ(tree.find(image::ResourceType::rcdata, u"MSI"), nullptr);
}

struct TreeDamage {
    const char* name;
    std::function<void(RawTree&)> apply;
    const char* words;
};

void PrintTo(const TreeDamage& d, std::ostream* os) {
    *os << d.name;
}

class DamagedTree : public testing::TestWithParam<TreeDamage> {};

TEST_P(DamagedTree, IsRefusedWithWordsSayingWhy) {
    RawTree raw;
    GetParam().apply(raw);
    const Bytes image = bareImage(raw.bytes);
    EXPECT_THAT(bmtest::errorOf([&] { readTree(image); }), testing::HasSubstr(GetParam().words));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedTree,
    testing::Values(
        TreeDamage{"cycle to the root", [](RawTree& r) { r.entry(0x18, 0, 1, subdirectory); },
                   "the resource directory at 0x600 is reached twice"},
        TreeDamage{"directory its own child",
                   [](RawTree& r) { r.entry(0x18, 0, 1, 0x18 | subdirectory); },
                   "the resource directory at 0x618 is reached twice"},
        TreeDamage{"huge counts", [](RawTree& r) { r.directory(0, 0xffff, 0xffff); },
                   "a resource directory's entries at 0x610 (0xffff0 bytes) lies outside the "
                   "resource section"},
        TreeDamage{"directory past the section",
                   [](RawTree& r) { r.entry(0, 0, 10, 0x7000 | subdirectory); },
                   "a resource directory at 0x7600 (0x10 bytes) lies outside"},
        TreeDamage{"data where a name directory belongs",
                   [](RawTree& r) { r.entry(0, 0, 10, 0x48); },
                   "ends before type, name and language"},
        TreeDamage{"a fourth level", [](RawTree& r) { r.entry(0x30, 0, 0, 0x18 | subdirectory); },
                   "goes deeper than type, name and language"},
        TreeDamage{"name outside the section",
                   [](RawTree& r) {
                       r.directory(0, 1, 0);
                       r.entry(0, 0, subdirectory | 0x7000, 0x18 | subdirectory);
                   },
                   "a resource name at 0x7600 (0x2 bytes) lies outside"},
        TreeDamage{"name running past the section",
                   [](RawTree& r) {
                       r.directory(0, 1, 0);
                       r.entry(0, 0, subdirectory | 0x50, 0x18 | subdirectory);
                       put16(r.bytes, 0x50, 0x8000);
                   },
                   "a resource name at 0x652 (0x10000 bytes) lies outside"},
        TreeDamage{"language named by a text",
                   [](RawTree& r) { r.entry(0x30, 0, subdirectory | 0x50, 0x48); },
                   "is named by a text"},
        TreeDamage{"id out of range",
                   [](RawTree& r) { r.entry(0x18, 0, 0x10001, 0x30 | subdirectory); },
                   "resource id 0x10001 is out of range"},
        TreeDamage{"data entry outside the sections",
                   [](RawTree& r) { put32(r.bytes, 0x48, 0x9000); },
                   "a resource's data at RVA 0x9000 lies outside the sections' data"},
        TreeDamage{"data in the headers", [](RawTree& r) { put32(r.bytes, 0x48, 0x10); },
                   "lies outside the sections' data"},
        TreeDamage{"data running past its section",
                   [](RawTree& r) { put32(r.bytes, 0x4c, 0x10000); },
                   "a resource's data at RVA 0x2058 (0x10000 bytes) runs past the end"},
        TreeDamage{"data size 4 GiB less one", [](RawTree& r) { put32(r.bytes, 0x4c, 0xffffffff); },
                   "runs past the end"},
        TreeDamage{"data in code", [](RawTree& r) { put32(r.bytes, 0x48, textRva); },
                   "<no error>"}));

// The loader trusts its image; the tool reads files from anywhere. A bad
// directory entry in the image's headers must be refused before it is used.
TEST(ResourceTree, RefusesAResourceDirectoryOutsideTheSections) {
    Bytes image = bareImage(RawTree().bytes);
    put32(image, optionalHeader + 112 + 16, 0x5000);
    EXPECT_THAT(bmtest::errorOf([&] { readTree(image); }),
                testing::HasSubstr("the resource directory at RVA 0x5000 lies outside"));
    image = bareImage(RawTree().bytes);
    image.resize(rsrcOffset + 0x40);
    EXPECT_THAT(bmtest::errorOf([&] { readTree(image); }),
                testing::HasSubstr("lies outside the file"));
}

// Three levels of 4,096 entries that all lead to the same subdirectories
// would make a walk that follows every entry take hours.
TEST(ResourceTree, RefusesSharedSubdirectoriesAtOnce) {
    const std::uint32_t count = 4096;
    const std::uint32_t size = 16 + 8 * count;
    RawTree raw;
    raw.bytes.assign(3 * size + 16, 0);
    for (std::uint32_t level = 0; level < 3; ++level) {
        const std::uint32_t at = level * size;
        raw.directory(at, 0, static_cast<std::uint16_t>(count));
        for (std::uint32_t i = 0; i < count; ++i) {
            raw.entry(at, i, i + 1, level < 2 ? (at + size) | subdirectory : 3 * size);
        }
    }
    put32(raw.bytes, 3 * size, rsrcRva + 3 * size);
    put32(raw.bytes, 3 * size + 4, 16);
    const Bytes image = bareImage(raw.bytes);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(bmtest::errorOf([&] { readTree(image); }),
                testing::HasSubstr("is reached twice (shared or in a cycle)"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// Names that overlap cost the walk their length each time: it stops once
// it has read more than the section could hold. Each name here starts one
// unit after the one before, its length one more, so they stay in order.
TEST(ResourceTree, RefusesAWalkLongerThanItsSection) {
    const std::uint32_t count = 4096;
    const std::uint32_t name = 16 + 8 * count;
    RawTree raw;
    raw.bytes.assign(name + 2 * (count + 0x8000 + count), 'a');
    raw.directory(0, static_cast<std::uint16_t>(count), 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        raw.entry(0, i, (name + 2 * i) | subdirectory, 0x18 | subdirectory);
        put16(raw.bytes, name + 2 * i, static_cast<std::uint16_t>(0x8000 + i));
    }
    const Bytes image = bareImage(raw.bytes);
    EXPECT_THAT(bmtest::errorOf([&] { readTree(image); }),
                testing::HasSubstr("refers to more entries and names than its"));
}

TEST(ResourceTree, ReadsBackWhatTheWriterWrote) {
    const std::string a = "first", b = "second data", c(1000, 'c');
    ResourceTree written;
    written.set(image::ResourceType::rcdata, u"MSI", 0, view(a));
    written.set(image::ResourceType::rcdata, 7, 0, view(b));
    written.set(image::ResourceType::rcdata, 7, 0x409, view(c));
    written.set(u"CUSTOM", u"\u00c9T\u00c9", 0, view(b));
    written.set(image::ResourceType::version, 1, 0x409, view(c));

    const Bytes out = write(bareImage(), written);
    const ResourceTree read = readTree(out);
    ASSERT_EQ(read.types().size(), written.types().size());
    for (const auto& type : written.types()) {
        for (const auto& name : type.second) {
            for (const auto& language : name.second) {
                const auto& got = read.types().at(type.first).at(name.first).at(language.first);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.data()), got.size()),
                          std::string(reinterpret_cast<const char*>(language.second.data()),
                                      language.second.size()))
                    << type.first.str() << "/" << name.first.str();
            }
        }
    }
    EXPECT_EQ(read.firstName(u"CUSTOM")->str(), "\xc3\x89T\xc3\x89");
}

// RCDATA holding `names` (the first `named` of them counted as named by a
// text), each in `languages`, all of one data entry.
Bytes namesTree(const std::vector<ResourceKey>& names, std::uint16_t named,
                const std::vector<std::uint16_t>& languages) {
    RawTree raw;
    raw.bytes.clear();
    const auto count = [](std::size_t n) { return static_cast<std::uint16_t>(n); };
    const std::uint32_t firstLanguages = 0x28 + 8 * count(names.size());
    const std::uint32_t languagesSize = 16 + 8 * count(languages.size());
    const std::uint32_t data = firstLanguages + languagesSize * count(names.size());
    std::uint32_t text = data + 20;
    raw.directory(0, 0, 1);
    raw.entry(0, 0, 10, 0x18 | subdirectory);
    raw.directory(0x18, named, count(names.size() - named));
    for (std::uint32_t i = 0; i < names.size(); ++i) {
        const std::uint32_t at = firstLanguages + languagesSize * i;
        raw.entry(0x18, i, names[i].isId() ? names[i].id : text | subdirectory, at | subdirectory);
        raw.directory(at, 0, count(languages.size()));
        for (std::uint32_t j = 0; j < languages.size(); ++j) {
            raw.entry(at, j, languages[j], data);
        }
        if (!names[i].isId()) {
            put16(raw.bytes, text, count(names[i].text.size()));
            for (char16_t c : names[i].text) {
                put16(raw.bytes, text += 2, c);
            }
            text += 2;
        }
    }
    put32(raw.bytes, data, rsrcRva + data + 16);
    put32(raw.bytes, data + 4, 4);
    put32(raw.bytes, data + 16, 0x64636261);
    return bareImage(raw.bytes);
}

// Windows' lookup searches each directory by halves: what is out of its
// order, or counted on the wrong side, it may not find.
TEST(ResourceTree, RefusesDirectoriesOutOfTheLookupsOrder) {
    const struct {
        std::vector<ResourceKey> names;
        std::uint16_t named;
        std::vector<std::uint16_t> languages;
        const char* expected;
    } cases[] = {
        {{u"MSI", u"MSIX", u"PRODUCT_CODE", 1, 7}, 3, {0, 0x409}, "<no error>"},
        {{u"PRODUCT_CODE", u"MSI"}, 2, {0}, "lists the resource name MSI after PRODUCT_CODE"},
        {{u"MSIX", u"MSI"}, 2, {0}, "lists the resource name MSI after MSIX"},
        {{u"MSI", u"MSI"}, 2, {0}, "lists the resource name MSI twice"},
        {{7, 1}, 0, {0}, "lists the resource name #1 after #7"},
        {{u"MSI"},
         0,
         {0},
         "counts 0 entries named by a text first, but its entry 0 is named by "
         "a text: Windows' lookup would not find it"},
        {{1, u"MSI"}, 1, {0}, "its entry 0 is named by a number"},
        {{u"MSI"}, 1, {0x409, 0}, "lists the language #0 after #1033"},
        {{u"MSI"}, 1, {0, 0}, "lists the language #0 twice"},
        {{std::u16string(u"MSI\0X", 5)},
         1,
         {0},
         "holds a NUL: Windows' lookup would read it "
         "shorter"},
    };
    for (const auto& c : cases) {
        const Bytes image = namesTree(c.names, c.named, c.languages);
        EXPECT_THAT(bmtest::errorOf([&] { readTree(image); }), testing::HasSubstr(c.expected))
            << c.names.front().str() << ", " << c.names.size() << " names";
    }
}

TEST(ResourceTree, FindsOnlyWhatIsThereInOneLanguage) {
    const std::string a = "package", b = "another";
    ResourceTree written;
    written.set(image::ResourceType::rcdata, u"MSI", 0, view(a));
    written.set(image::ResourceType::rcdata, u"PRODUCT_CODE", 0x409, view(b));
    written.set(image::ResourceType::rcdata, u"PRODUCT_CODE", 0x407, view(b));
    const Bytes out = write(bareImage(), written);
    const ResourceTree read = readTree(out);
    EXPECT_EQ(read.findOnly(image::ResourceType::rcdata, u"MSI")->size(), a.size());
    EXPECT_EQ(read.findOnly(image::ResourceType::rcdata, u"NONE"), nullptr);
    EXPECT_EQ(bmtest::errorOf([&] { read.findOnly(image::ResourceType::rcdata, u"PRODUCT_CODE"); }),
              "the resource PRODUCT_CODE of type #10 is there in 2 languages (0x407, 0x409): which "
              "one Windows' lookup takes depends on the user's language");
}

TEST(ResourceKey, OrdersTextsBeforeNumbersAsTheLoaderSearches) {
    EXPECT_LT(ResourceKey(u"ZZZ"), ResourceKey(1));
    EXPECT_LT(ResourceKey(u"MSI"), ResourceKey(u"PRODUCT_CODE"));
    EXPECT_LT(ResourceKey(2), ResourceKey(10));
    EXPECT_FALSE(ResourceKey(10) < ResourceKey(10));
}

}  // namespace
