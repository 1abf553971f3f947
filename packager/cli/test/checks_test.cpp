#include <gtest/gtest.h>

#include "JsonWriter.h"
#include "PackageChecks.h"
#include "ToolPlatform.h"

bool ToolPlatform::isSeparator(char c) {
    return c == '/';
}

namespace {

struct Case {
    const char* what;
    std::string summaryTemplate;
    std::int64_t pageCount;
    std::int64_t wordCount;
    std::vector<std::string> cabinets;
    std::vector<std::int64_t> fileAttributes;
    const char* productCode;
    // The findings' ids, refusals marked with '!'.
    std::vector<std::string> expected;
    std::int64_t components64Bit = 0;
};

Package packageOf(const Case& c) {
    Package package;
    package.facts.productCode = c.productCode;
    package.productCode = "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}";
    PackageDetails& d = package.facts.details;
    d.summaryTemplate = c.summaryTemplate;
    d.pageCount = c.pageCount;
    d.wordCount = c.wordCount;
    d.components64Bit = c.components64Bit;
    // Each row covers every file, its embedded cabinet there.
    for (const std::string& cabinet : c.cabinets) {
        d.media.push_back({static_cast<std::int64_t>(d.media.size() + 1), cabinet, 100, true});
    }
    for (const std::int64_t attributes : c.fileAttributes) {
        const std::string n = std::to_string(d.files.size() + 1);
        d.files.push_back({"FILE" + n + "|file " + n + ".txt", attributes,
                           static_cast<std::int64_t>(d.files.size() + 1)});
    }
    return package;
}

std::vector<std::string> idsOf(const Package& package) {
    std::vector<std::string> ids;
    for (const auto& finding : PackageChecks::run(package, "package 'p.msi'", "p.msi")) {
        ids.push_back((finding.refusal ? "!" : "") + finding.id);
        EXPECT_EQ(finding.message.rfind("package 'p.msi' ", 0), 0u) << finding.message;
        EXPECT_EQ(finding.message.find('\n'), std::string::npos) << finding.message;
    }
    return ids;
}

const char* const upper = "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}";

TEST(PackageChecks, FindWhatStopsAnInstallFromASetupProgram) {
    const Case cases[] = {
        {"wixl's usual package", "Intel;1033", 200, 10, {"#tool.cab"}, {512}, upper, {}},
        {"no files, no media", ";1033", 200, 0, {}, {}, upper, {}},
        {"external cabinet",
         "Intel;1033",
         200,
         2,
         {"#a.cab", "ext.cab"},
         {0},
         upper,
         {"!external-cabinet"}},
        {"media row without a cabinet", "Intel;1033", 200, 2, {""}, {}, upper, {}},
        {"compressed files, no cabinet",
         "Intel;1033",
         200,
         2,
         {""},
         {0},
         upper,
         {"!compressed-without-cabinet"}},
        {"uncompressed by attribute",
         "Intel;1033",
         200,
         2,
         {"#a.cab"},
         {0, 0x2000},
         upper,
         {"!uncompressed-files"}},
        {"uncompressed by word count",
         "Intel;1033",
         200,
         0,
         {""},
         {0},
         upper,
         {"!uncompressed-files"}},
        {"compressed by attribute", "Intel;1033", 200, 0, {"#a.cab"}, {0x4000}, upper, {}},
        {"administrative image", "Intel;1033", 200, 6, {""}, {0}, upper, {"!uncompressed-files"}},
        {"no summary word count", "Intel;1033", 200, -1, {""}, {0}, upper, {"!uncompressed-files"}},
        {"x64 below 200", "x64;1033", 100, 2, {}, {}, upper, {"!installer-version"}},
        {"Arm64 below 200", "Arm64;1033", 150, 2, {}, {}, upper, {"!installer-version"}},
        {"Itanium below 200", "Intel64;1033", 110, 2, {}, {}, upper, {"!installer-version"}},
        {"x64 without a page count", "x64;1033", -1, 2, {}, {}, upper, {"!installer-version"}},
        {"x64 at 200", "x64;1033", 200, 2, {}, {}, upper, {}},
        {"x86 at 100", "Intel;1033", 100, 2, {}, {}, upper, {}},
        {"lower-case product code",
         "Intel;1033",
         200,
         2,
         {},
         {},
         "{6c1e0a51-7b43-4f3c-9e0b-2d5a31c7e000}",
         {"product-code-case"}},
        {"everything at once",
         "x64;1033",
         100,
         0,
         {"ext.cab"},
         {0},
         "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7e000}",
         {"!external-cabinet", "!uncompressed-files", "!installer-version", "product-code-case"}},
        {"64-bit components in an x86 package",
         "Intel;1033",
         200,
         2,
         {},
         {},
         upper,
         {"64-bit-components-in-x86-package"},
         3},
        {"64-bit components for x64", "x64;1033", 200, 2, {}, {}, upper, {}, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(idsOf(packageOf(c)), c.expected) << c.what;
    }
}

// Windows Installer takes a file from the first Media row by DiskId whose
// LastSequence reaches the file's Sequence, and its cabinet by exact name.
TEST(PackageChecks, FindTheCabinetOfEveryFileAsTheInstallerDoes) {
    using Media = PackageDetails::Media;
    using File = PackageDetails::File;
    const File one{"ONE|one", 0, 1};
    const File four{"FOUR|four", 0, 4};
    const struct {
        const char* what;
        std::vector<Media> media;
        std::vector<File> files;
        std::vector<std::string> expected;
    } cases[] = {
        {"covered", {{1, "#a.cab", 1, true}, {2, "#b.cab", 4, true}}, {one, four}, {}},
        {"no such stream", {{1, "#a.cab", 4, false}}, {one}, {"!embedded-cabinet-missing"}},
        {"beyond every row", {{1, "#a.cab", 3, true}}, {one, four}, {"!file-without-media"}},
        {"no Media row", {}, {one}, {"!file-without-media"}},
        {"a row without a cabinet",
         {{1, "#a.cab", 1, true}, {2, "", 4, false}},
         {one, four},
         {"!compressed-without-cabinet"}},
        // The first row by DiskId, not the nearest LastSequence.
        {"first row by DiskId",
         {{2, "#b.cab", 4, true}, {1, "", 9, false}},
         {four},
         {"!compressed-without-cabinet"}},
        // Names as a hostile package gives them stay on the one line.
        {"names with line breaks",
         {{1, "#a\nb.cab", 1, false}, {2, "c\r\n.cab", 2, false}},
         {{"X|x\ny", 0x2000, 3}},
         {"!external-cabinet", "!embedded-cabinet-missing", "!uncompressed-files",
          "!file-without-media"}},
        {"uncompressed from no cabinet",
         {{1, "", 4, false}},
         {{"X|x", 0x2000, 1}},
         {"!uncompressed-files"}},
    };
    for (const auto& c : cases) {
        Package package = packageOf({"", "Intel;1033", 200, 2, {}, {}, upper, {}});
        package.facts.details.media = c.media;
        package.facts.details.files = c.files;
        EXPECT_EQ(idsOf(package), c.expected) << c.what;
    }
}

TEST(PackageChecks, NameWhatToChange) {
    Case c{"", "x64;1033", 100, 2, {"#a.cab", "ext.cab"}, {0x2000}, upper, {}};
    c.fileAttributes = {0, 0x2000};
    c.wordCount = 2;
    const auto findings = PackageChecks::run(packageOf(c), "package 'p.msi'", "p.msi");
    ASSERT_EQ(findings.size(), 3u);
    EXPECT_NE(findings[0].message.find("cabinet 'ext.cab'"), std::string::npos);
    EXPECT_NE(findings[0].message.find("EmbedCab=\"yes\""), std::string::npos);
    // The long name of the first uncompressed file.
    EXPECT_NE(findings[1].message.find("file 'file 2.txt'"), std::string::npos);
    EXPECT_NE(findings[1].message.find("Compressed=\"yes\""), std::string::npos);
    EXPECT_NE(findings[2].message.find("Windows Installer 1.0 (100)"), std::string::npos);
    EXPECT_NE(findings[2].message.find("InstallerVersion=\"200\""), std::string::npos);
}

TEST(PackageChecks, GiveTheCommandThatEmbedsExternalCabinets) {
    const std::string wix = "embed it with WiX's <Media ... EmbedCab=\"yes\">";
    const struct {
        std::string path;
        std::vector<PackageDetails::Media> media;
        std::string end;
    } cases[] = {
        {"app.msi",
         {{1, "#a.cab", 0, true}, {3, "ext.cab"}},
         wix + ", or run: msibuild 'app.msi' -a ext.cab 'ext.cab' -q \"UPDATE Media SET "
               "Cabinet='#ext.cab' WHERE Cabinet='ext.cab'\""},
        // The cabinet is taken from beside the package, whatever quoting its
        // folder's name needs.
        {"/in here/it's.msi",
         {{2, "Data 1.cab"}},
         wix + ", or run: msibuild \"/in here/it's.msi\" -a 'Data 1.cab' '/in here/Data "
               "1.cab' -q \"UPDATE Media SET Cabinet='#Data 1.cab' WHERE Cabinet='Data 1.cab'\""},
        {"/a/$x'.msi",
         {{1, "c.cab"}},
         wix + ", or run: msibuild '/a/$x'\\''.msi' -a c.cab '/a/c.cab' -q \"UPDATE Media "
               "SET Cabinet='#c.cab' WHERE Cabinet='c.cab'\""},
        // One stream and one query for a cabinet that many disks name.
        {"p.msi",
         {{1, "x.cab"}, {2, "x.cab"}, {4, "y.cab"}, {5, "x.cab"}},
         "embed them with WiX's <Media ... EmbedCab=\"yes\">, or run: msibuild 'p.msi' -a "
         "x.cab 'x.cab' -a y.cab 'y.cab' -q \"UPDATE Media SET Cabinet='#x.cab' WHERE "
         "Cabinet='x.cab'\" -q \"UPDATE Media SET Cabinet='#y.cab' WHERE Cabinet='y.cab'\""},
        // No query can name it; and a package inside a setup program has no
        // file to run the command on.
        {"p.msi", {{1, "o'k.cab"}}, wix},
        {"", {{1, "ext.cab"}}, wix},
    };
    for (const auto& c : cases) {
        Case base{"", "Intel;1033", 200, 2, {}, {}, upper, {}};
        Package package = packageOf(base);
        package.facts.details.media = c.media;
        const auto findings = PackageChecks::run(package, "package 'p'", c.path);
        ASSERT_EQ(findings.size(), 1u) << c.path;
        const std::string& message = findings[0].message;
        EXPECT_EQ(message.substr(message.find(": embed") + 2), c.end) << c.path;
    }
}

// wixl writes no cabinet for EmbedCab="no": a command to embed one that is
// not there would do nothing, without a word.
TEST(PackageChecks, SayHowToMakeACabinetThatIsNotBesideThePackage) {
    Case base{"", "Intel;1033", 200, 2, {}, {}, upper, {}};
    Package package = packageOf(base);
    package.facts.details.media = {{1, "a.cab"}, {2, "b.cab"}};
    const auto findings = PackageChecks::run(package, "package 'p'", "/in/p.msi",
                                             [](const std::string& f) { return f == "/in/a.cab"; });
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].message,
              "package 'p' installs from the cabinets 'a.cab', 'b.cab', which a setup program "
              "does not carry and which is not beside it ('b.cab' is missing; wixl writes none "
              "for EmbedCab=\"no\"): build the package again with WiX's <Media ... "
              "EmbedCab=\"yes\">");
}

// However many rows a package has, the hint is one short line.
TEST(PackageChecks, NameAFewCabinetsAtMost) {
    const struct {
        std::size_t rows;
        std::size_t names;
        std::string listed;
    } cases[] = {
        {1000, 1, "cabinet 'c0.cab' beside it"},
        {5, 5, "cabinets 'c0.cab', 'c1.cab', 'c2.cab' and 2 more beside it"},
        {9, 9, "cabinets 'c0.cab', 'c1.cab', 'c2.cab' and 6 more beside it"},
    };
    for (const auto& c : cases) {
        Package package = packageOf({"", "Intel;1033", 200, 2, {}, {}, upper, {}});
        for (std::size_t i = 0; i < c.rows; ++i) {
            package.facts.details.media.push_back(
                {static_cast<std::int64_t>(i + 1), "c" + std::to_string(i % c.names) + ".cab"});
        }
        const auto findings = PackageChecks::run(package, "package 'p'", "p.msi");
        ASSERT_EQ(findings.size(), 1u);
        const std::string& message = findings[0].message;
        EXPECT_NE(message.find(c.listed), std::string::npos) << message;
        // The command names each cabinet once, and only up to a line's worth.
        EXPECT_EQ(message.find("run: msibuild") == std::string::npos, c.names > 8) << message;
        EXPECT_LT(message.size(), 1200u);
    }
}

TEST(PackageChecks, ArchitectureAndScope) {
    const std::pair<const char*, const char*> platforms[] = {
        {"", "x86"},          {";1033", "x86"},      {"Intel;1033", "x86"},
        {"x64;1033", "x64"},  {"AMD64;1033", "x64"}, {"Intel64;1033", "Itanium"},
        {"Arm64;0", "Arm64"}, {"Arm;1033", "Arm"},
    };
    for (const auto& p : platforms) {
        PackageDetails d;
        d.summaryTemplate = p.first;
        EXPECT_EQ(PackageChecks::architecture(d), p.second) << p.first;
    }
    const std::tuple<const char*, const char*, const char*> scopes[] = {
        {"", "", "per-user"},
        {"", "1", "per-user"},
        {"1", "", "per-machine"},
        {"2", "", "per-machine"},
        {"2", "1", "per-user or per-machine"},
    };
    for (const auto& s : scopes) {
        PackageDetails d;
        d.allUsers = std::get<0>(s);
        d.installPerUser = std::get<1>(s);
        EXPECT_EQ(PackageChecks::installScope(d), std::get<2>(s)) << std::get<0>(s);
    }
}

TEST(JsonWriter, QuotesEveryStringSoThatParsersTakeIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"C:\\a \"b\"", "\"C:\\\\a \\\"b\\\"\""},
        {"{X}\r\n\t", "\"{X}\\r\\n\\t\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {"Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x93\xa6",
         "\"Gr\xc3\xbc\xc3\x9f \xe2\x82\xac "
         "\xf0\x9f\x93\xa6\""},
        // A cut sequence, an overlong form, a surrogate, a stray continuation.
        {"a\xc3", "\"a\\ufffd\""},
        {"\xc0\xaf", "\"\\ufffd\\ufffd\""},
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
        {"\x80z", "\"\\ufffdz\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonWriter::quote(c.first), c.second) << c.first;
    }
}

TEST(JsonWriter, NestsAndSeparates) {
    JsonWriter json;
    json.beginObject();
    json.key("a").value(std::int64_t(-1));
    json.key("b").beginArray().value(true).null().beginObject().endObject().endArray();
    json.key("c").beginArray().endArray();
    json.key("d").value("x");
    json.endObject();
    EXPECT_EQ(json.text(),
              "{\n  \"a\": -1,\n  \"b\": [\n    true,\n    null,\n    {}\n  ],\n  \"c\": [],\n"
              "  \"d\": \"x\"\n}");
}

}  // namespace
