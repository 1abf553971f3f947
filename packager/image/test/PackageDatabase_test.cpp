#include "PackageDatabase.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ErrorOf.h"
#include "InstallerTables.h"
#include "TestDatabase.h"

namespace {

using testdb::Bytes;
using testdb::Cell;
using testdb::Column;
using testdb::i4;
using testdb::lpstr;
using Rows = std::vector<std::vector<Cell>>;
using Properties = std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, Bytes>>>;

const std::u16string kSummary = u"\x05SummaryInformation";
const Cell null;

// A small package's tables as a case may change them before they are
// written: rows out of order, a NULL attribute, a 64-bit component, one
// cabinet stream present and one missing.
struct Sample {
    std::uint16_t codePage = 1252;
    std::vector<Column> propertyColumns = {{"Property", testdb::kString},
                                           {"Value", testdb::kString}};
    Rows property = {{"ProductCode", "{11111111-2222-3333-4444-555555555555}"},
                     {"ProductName", "Sample"},
                     {"ProductVersion", "1.2.3"},
                     {"Manufacturer", "Makers"},
                     {"UpgradeCode", "{21111111-2222-3333-4444-555555555555}"},
                     {"ALLUSERS", "1"},
                     {"ARPPRODUCTICON", "app.ico"}};
    Rows media = {{2, 5, "#b.cab"}, {1, 3, "#a.cab"}};
    Rows file = {{"f2", "B.TXT|b.txt", null, 2}, {"f1", "A.TXT|a.txt", 512, 1}};
    Rows component = {{"c1", 0x100}, {"c2", 0}, {"c3", null}};
    Rows icon = {{"app.ico", 1}};
    Properties summary = {{7, {30, lpstr("x64;1033")}}, {14, {3, i4(200)}}, {15, {3, i4(2)}}};

    testdb::Database build() const {
        testdb::Builder b;
        b.codePage = codePage;
        b.table("Property", propertyColumns, property);
        b.table("Media",
                {{"DiskId", testdb::kShort},
                 {"LastSequence", testdb::kNullableLong},
                 {"Cabinet", testdb::kNullableString}},
                media);
        b.table("File",
                {{"File", testdb::kString},
                 {"FileName", testdb::kString},
                 {"Attributes", testdb::kNullableShort},
                 {"Sequence", testdb::kLong}},
                file);
        b.table("Component", {{"Component", testdb::kString}, {"Attributes", testdb::kShort}},
                component);
        b.table("Icon", {{"Name", testdb::kString}, {"Data", testdb::kStream}}, icon);
        testdb::Database d = b.build();
        d.others[image::InstallerTables::encodeName("a.cab", false)] = {1};
        d.others[image::InstallerTables::encodeName("Icon.app.ico", false)] = {0, 0, 1, 0};
        d.others[kSummary] = testdb::summary(summary);
        return d;
    }
};

TEST(PackageDatabaseTest, ReadsEveryFactFromTheTables) {
    const PackageFacts f = image::PackageDatabase::read(Sample().build());
    EXPECT_EQ(f.productCode, "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(f.productName, "Sample");
    EXPECT_EQ(f.productVersion, "1.2.3");
    EXPECT_EQ(f.manufacturer, "Makers");
    EXPECT_EQ(f.iconName, "app.ico");
    EXPECT_EQ(f.icon, Bytes({0, 0, 1, 0}));
    const PackageDetails& d = f.details;
    EXPECT_EQ(d.upgradeCode, "{21111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(d.allUsers, "1");
    EXPECT_EQ(d.installPerUser, "");
    EXPECT_EQ(d.summaryTemplate, "x64;1033");
    EXPECT_EQ(d.pageCount, 200);
    EXPECT_EQ(d.wordCount, 2);
    ASSERT_EQ(d.media.size(), 2u);
    EXPECT_EQ(d.media[0].diskId, 1);
    EXPECT_EQ(d.media[0].lastSequence, 3);
    EXPECT_EQ(d.media[0].cabinet, "#a.cab");
    EXPECT_TRUE(d.media[0].streamFound);
    EXPECT_EQ(d.media[1].cabinet, "#b.cab");
    EXPECT_FALSE(d.media[1].streamFound);
    ASSERT_EQ(d.files.size(), 2u);
    EXPECT_EQ(d.files[0].name, "A.TXT|a.txt");
    EXPECT_EQ(d.files[0].attributes, 512);
    EXPECT_EQ(d.files[1].sequence, 2);
    EXPECT_EQ(d.files[1].attributes, 0);
    EXPECT_EQ(d.components64Bit, 1);
}

TEST(PackageDatabaseTest, DecodesTheStringsOfItsCodePageAndReadsAbsencesAsTheLibrariesDo) {
    Sample s;
    s.property[1][1] = "Caf\xE9 \x80";
    s.icon.clear();
    s.summary.clear();
    testdb::Database d = s.build();
    d.others.erase(kSummary);
    const PackageFacts f = image::PackageDatabase::read(d);
    EXPECT_EQ(f.productName, "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_FALSE(f.details.textInMachineCodePage);
    EXPECT_TRUE(f.icon.empty());
    EXPECT_EQ(f.details.summaryTemplate, "");
    EXPECT_EQ(f.details.pageCount, -1);
    EXPECT_EQ(f.details.wordCount, -1);
    // ASCII reads alike under the pages that are not decoded here.
    s.codePage = 932;
    s.property[1][1] = "Sample";
    EXPECT_EQ(image::PackageDatabase::read(s.build()).productName, "Sample");
    // No code page named, as wixl writes: read as the libraries here read
    // it, and marked, since other machines read it otherwise.
    s.codePage = 0;
    s.property[1][1] = "Caf\xE9";
    const PackageFacts none = image::PackageDatabase::read(s.build());
    EXPECT_EQ(none.productName, "Caf\xC3\xA9");
    EXPECT_TRUE(none.details.textInMachineCodePage);
}

const struct {
    const char* name;
    std::function<void(Sample&)> change;
    const char* expected;
} kAmbiguousCases[] = {
    {"ProductCode twice",
     [](Sample& s) {
         s.property.push_back({"ProductCode", "{0}"});
     },
     "the Property table holds the key 'ProductCode' twice"},
    {"a key stored twice in the pool",
     [](Sample& s) {
         s.property.push_back({testdb::copyOf("ProductName"), "Other"});
     },
     "the Property table's row 2's key 'ProductName' is stored twice in the string pool"},
    {"a NUL inside a fact", [](Sample& s) { s.property[1][1] = std::string("Sam\0ple", 7); },
     "the value of ProductName 'Sam?ple' holds a NUL"},
    {"a NUL inside a key",
     [](Sample& s) {
         s.property.push_back({std::string("ProductCode\0X", 13), "{0}"});
     },
     "the Property table's row 8's key 'ProductCode?X' holds a NUL"},
    {"values as integers",
     [](Sample& s) {
         s.propertyColumns[1].type = testdb::kShort;
         s.property.clear();
     },
     "the Property table's Value column holds an integer, where the installer format gives it a "
     "string"},
    {"no Value column", [](Sample& s) { s.propertyColumns[1].name = "Val"; },
     "the Property table has no Value column"},
    {"two Value columns",
     [](Sample& s) {
         s.propertyColumns.push_back({"Value", testdb::kString});
         s.property.clear();
     },
     "the Property table has two columns named Value"},
    {"a disk twice", [](Sample& s) { s.media[1][0] = 2; }, "the Media table holds the key 2 twice"},
    {"a NULL last sequence", [](Sample& s) { s.media[0][1] = null; },
     "the Media table's row 1 has no LastSequence"},
    {"a file name longer than any", [](Sample& s) { s.file[0][1] = std::string(1025, 'x'); },
     "the File table's row 1 gives a file name of 1025 bytes, longer than any name (1024)"},
    {"a file twice", [](Sample& s) { s.file[1][0] = "f2"; },
     "the File table holds the key 'f2' twice"},
    {"a code page the libraries read apart", [](Sample& s) { s.codePage = 10000; },
     "the string pool's code page 10000 is not one that every installer library reads the same "
     "way"},
    {"a byte the code page leaves undefined", [](Sample& s) { s.property[2][1] = "1.\x81"; },
     "holds the byte 0x81, which code page 1252 leaves undefined"},
    {"a byte 1252 leaves undefined under code page 0",
     [](Sample& s) {
         s.codePage = 0;
         s.property[1][1] = "Caf\x81";
     },
     "holds the byte 0x81, which code page 1252 leaves undefined (the pool names no code page"},
    {"8-bit text under a double-byte code page",
     [](Sample& s) {
         s.codePage = 932;
         s.property[1][1] = "Caf\xE9";
     },
     "holds the byte 0xe9, but under the pool's code page 932 only ASCII reads the same"},
    {"broken UTF-8",
     [](Sample& s) {
         s.codePage = 65001;
         s.property[1][1] = "Caf\xC3";
     },
     "is not well-formed UTF-8 at its byte 4, though the pool's code page is 65001"},
    {"a word count as VT_I2",
     [](Sample& s) {
         s.summary[2].second = {2, {2, 0}};
     },
     "the Summary Information holds the word count as VT_I2, where the format gives VT_I4"},
    {"a template as VT_LPWSTR", [](Sample& s) { s.summary[0].second.first = 31; },
     "the Summary Information holds the template as VT_LPWSTR, where the format gives VT_LPSTR"},
    {"a page count twice",
     [](Sample& s) {
         s.summary.push_back({14, {3, i4(300)}});
     },
     "the Summary Information holds the page count twice"},
    {"a template past its stream",
     [](Sample& s) {
         s.summary[0].second.second = {0xFF, 0, 0, 0, 'x'};
     },
     "the Summary Information holds the template cut short"},
    {"an 8-bit template", [](Sample& s) { s.summary[0].second.second = lpstr("x64;\xE9"); },
     "the Summary Information holds a template that is not plain ASCII text (byte 5 is 0xe9)"},
    {"a thumbnail",
     [](Sample& s) {
         s.summary.push_back({17, {71, i4(0)}});
     },
     "the Summary Information holds property 17, which the installer format does not give"},
};

TEST(PackageDatabaseTest, RefusesWhatReadersCouldReadApartInOneLine) {
    for (const auto& c : kAmbiguousCases) {
        Sample s;
        c.change(s);
        const std::string error = bmtest::errorOf([&] { image::PackageDatabase::read(s.build()); });
        EXPECT_NE(error.find(c.expected), std::string::npos)
            << c.name << ": expected \"" << c.expected << "\", got \"" << error << "\"";
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
    }
}

Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What wixl writes for samples/hello.wxs, as libmsi and msi.dll read it.
TEST(PackageDatabaseTest, ReadsAWixlPackageAsTheInstallerLibrariesDo) {
    const Bytes package = fileBytes(BRUMLET_IMAGE_TEST_PACKAGES "/hello.msi");
    if (package.empty()) {
        GTEST_SKIP() << "no wixl";
    }
    const PackageFacts f = image::PackageDatabase::read(package.data(), package.size());
    EXPECT_EQ(f.productCode, "{D0AB6657-814E-4B30-AF5E-BB2ADCFE65DC}");
    EXPECT_EQ(f.productName, "Brumlet Hello");
    EXPECT_EQ(f.productVersion, "1.0.0");
    EXPECT_EQ(f.manufacturer, "Brumlet");
    EXPECT_EQ(f.details.upgradeCode, "{15D10859-A27E-41BD-8F97-49FC1B4210DA}");
    EXPECT_EQ(f.details.summaryTemplate, "Intel;1033");
    EXPECT_EQ(f.details.pageCount, 200);
    ASSERT_EQ(f.details.media.size(), 1u);
    EXPECT_EQ(f.details.media[0].cabinet, "#hello.cab");
    EXPECT_TRUE(f.details.media[0].streamFound);
    ASSERT_EQ(f.details.files.size(), 1u);
    EXPECT_EQ(f.details.files[0].name, "hello.txt");
    EXPECT_EQ(f.details.files[0].sequence, f.details.media[0].lastSequence);
}

}  // namespace
