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
};

Package packageOf(const Case& c) {
    Package package;
    package.facts.productCode = c.productCode;
    package.productCode = "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}";
    PackageDetails& d = package.facts.details;
    d.summaryTemplate = c.summaryTemplate;
    d.pageCount = c.pageCount;
    d.wordCount = c.wordCount;
    for (const std::string& cabinet : c.cabinets) {
        d.media.push_back({static_cast<std::int64_t>(d.media.size() + 1), cabinet});
    }
    for (const std::int64_t attributes : c.fileAttributes) {
        const std::string n = std::to_string(d.files.size() + 1);
        d.files.push_back({"FILE" + n + "|file " + n + ".txt", attributes});
    }
    return package;
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
        {"media row without a cabinet", "Intel;1033", 200, 2, {""}, {0}, upper, {}},
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
    };
    for (const Case& c : cases) {
        std::vector<std::string> ids;
        for (const auto& finding : PackageChecks::run(packageOf(c), "package 'p.msi'", "p.msi")) {
            ids.push_back((finding.refusal ? "!" : "") + finding.id);
            EXPECT_EQ(finding.message.rfind("package 'p.msi' ", 0), 0u) << finding.message;
            EXPECT_EQ(finding.message.find('\n'), std::string::npos) << finding.message;
        }
        EXPECT_EQ(ids, c.expected) << c.what;
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
         {{1, "#a.cab"}, {3, "ext.cab"}},
         wix + ", or run: msibuild 'app.msi' -a ext.cab 'ext.cab' -q \"UPDATE Media SET "
               "Cabinet='#ext.cab' WHERE DiskId=3\""},
        // The cabinet is taken from beside the package, whatever quoting its
        // folder's name needs.
        {"/in here/it's.msi",
         {{2, "Data 1.cab"}},
         wix + ", or run: msibuild \"/in here/it's.msi\" -a 'Data 1.cab' '/in here/Data "
               "1.cab' -q \"UPDATE Media SET Cabinet='#Data 1.cab' WHERE DiskId=2\""},
        {"/a/$x'.msi",
         {{1, "c.cab"}},
         wix + ", or run: msibuild '/a/$x'\\''.msi' -a c.cab '/a/c.cab' -q \"UPDATE Media "
               "SET Cabinet='#c.cab' WHERE DiskId=1\""},
        // One stream for a cabinet that two disks name.
        {"p.msi",
         {{1, "x.cab"}, {2, "x.cab"}, {4, "y.cab"}},
         "embed them with WiX's <Media ... EmbedCab=\"yes\">, or run: msibuild 'p.msi' -a "
         "x.cab 'x.cab' -a y.cab 'y.cab' -q \"UPDATE Media SET Cabinet='#x.cab' WHERE "
         "DiskId=1\" -q \"UPDATE Media SET Cabinet='#x.cab' WHERE DiskId=2\" -q \"UPDATE "
         "Media SET Cabinet='#y.cab' WHERE DiskId=4\""},
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
