#include <gtest/gtest.h>

#include "CommandLine.h"
#include "ErrorOf.h"
#include "FactsWire.h"
#include "FactsWitness.h"
#include "ProductCode.h"
#include "ReaderOutcome.h"
#include "ToolError.h"
#include "ToolPaths.h"
#include "ToolPlatform.h"

// The one piece of the platform these tests reach: POSIX separators.
bool ToolPlatform::isSeparator(char c) {
    return c == '/';
}

namespace {

TEST(ProductCode, TakesEveryFormOfAGuidAndGivesItBracedInUpperCase) {
    const std::string code = "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}";
    for (const char* form :
         {"{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}", "{6c1e0a51-7b43-4f3c-9e0b-2d5a31c7e000}",
          "6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000", "6C1E0A517B434F3C9E0B2D5A31C7E000",
          "{6C1E0A517B434F3C9E0B2D5A31C7E000}"}) {
        EXPECT_EQ(ProductCode::canonical(form), code) << form;
    }
    for (const char* bad :
         {"", "not-a-product-code", "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000",
          "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E00G}", "{6C1E0A51-7B434-F3C-9E0B-2D5A31C7E000}",
          "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}\r\n", "6C1E0A517B434F3C9E0B"}) {
        EXPECT_EQ(ProductCode::canonical(bad), "") << bad;
    }
}

TEST(ProductCode, OnlyTheBracedFormIsTheInstallersOwn) {
    EXPECT_TRUE(ProductCode::isBraced("{6c1e0a51-7b43-4f3c-9e0b-2d5a31c7e000}"));
    EXPECT_FALSE(ProductCode::isBraced("6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000"));
    EXPECT_FALSE(ProductCode::isBraced("{6C1E0A517B434F3C9E0B2D5A31C7E000}"));
}

TEST(ProductCode, ShowsControlCharactersAndByteOrderMarksAsEscapes) {
    EXPECT_EQ(ProductCode::visible("{A}\r\n"), "{A}\\r\\n");
    EXPECT_EQ(ProductCode::visible("\t\x7f"), "\\u0009\\u007F");
    EXPECT_EQ(ProductCode::visible("\xEF\xBB\xBF{A}"), "\\uFEFF{A}");
    EXPECT_EQ(ProductCode::visible("Gr\xC3\xBC\xC3\x9F"), "Gr\xC3\xBC\xC3\x9F");
}

TEST(CommandLine, TakesOneFileAndTheCommandsOptions) {
    const CommandLine line({"wrap", "-o", "out.exe", "a.msi", "--stub", "s.exe"},
                           {"-o", "--stub", "--icon"});
    EXPECT_EQ(line.file(), "a.msi");
    EXPECT_EQ(line.option("-o"), "out.exe");
    EXPECT_EQ(line.option("--stub"), "s.exe");
    EXPECT_EQ(line.option("--icon"), "");
}

TEST(CommandLine, TakesLongNamesValuesAfterEqualsAndTheEndOfOptions) {
    const std::vector<std::string> options = {"-o|--output", "--stub"};
    const std::vector<std::string> flags = {"--force", "--json"};
    const struct {
        std::vector<std::string> args;
        const char* file;
        const char* output;
        const char* stub;
        bool force;
    } cases[] = {
        {{"wrap", "--output", "o.exe", "a.msi"}, "a.msi", "o.exe", "", false},
        {{"wrap", "a.msi", "--output=o=1.exe", "--stub=s.exe"}, "a.msi", "o=1.exe", "s.exe", false},
        {{"wrap", "-o", "--force", "a.msi"}, "a.msi", "--force", "", false},
        {{"wrap", "--force", "--", "-a.msi"}, "-a.msi", "", "", true},
        {{"wrap", "--", "--force"}, "--force", "", "", false},
        {{"wrap", "-o", "-", "--", "--"}, "--", "-", "", false},
        {{"info", "-"}, "-", "", "", false},
    };
    for (const auto& c : cases) {
        const CommandLine line(c.args, options, flags);
        EXPECT_EQ(line.file(), c.file) << c.args.at(1);
        EXPECT_EQ(line.option("-o"), c.output) << c.args.at(1);
        EXPECT_EQ(line.option("--stub"), c.stub) << c.args.at(1);
        EXPECT_EQ(line.flag("--force"), c.force) << c.args.at(1);
    }
}

TEST(CommandLine, RefusesWhatItDoesNotUnderstandWithTheReason) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"wrap"}, "wrap: no file given"},
        {{"wrap", "a.msi", "b.msi"}, "wrap: expects exactly one file, got 'b.msi' too"},
        {{"wrap", "a.msi", ""}, "wrap: expects exactly one file, got '' too"},
        {{"wrap", "a.msi", "--out", "x"}, "wrap: unknown option '--out'"},
        {{"wrap", "a.msi", "-o"}, "wrap: option -o needs a value"},
        {{"wrap", "a.msi", "-o", ""}, "wrap: option -o needs a value"},
        {{"wrap", "a.msi", "-o", "x", "-o", "y"}, "wrap: option -o given twice"},
        {{"wrap", "a.msi", "-o", "x", "--output=y"}, "wrap: option --output given twice"},
        {{"wrap", "a.msi", "--output="}, "wrap: option --output needs a value"},
        {{"wrap", "a.msi", "--out=x"}, "wrap: unknown option '--out'"},
        {{"wrap", "a.msi", "-o=x"}, "wrap: unknown option '-o=x'"},
        {{"wrap", "a.msi", "--force=yes"}, "wrap: option --force takes no value"},
        {{"wrap", "a.msi", "--force", "--force"}, "wrap: option --force given twice"},
        {{"wrap", "--", "a.msi", "-o"}, "wrap: expects exactly one file, got '-o' too"},
        {{"wrap", "--"}, "wrap: no file given"},
    };
    for (const auto& c : cases) {
        try {
            CommandLine(c.args, {"-o|--output"}, {"--force"});
            ADD_FAILURE() << c.message;
        } catch (const UsageError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(ToolPaths, SplitsNamesAtTheLastSeparator) {
    EXPECT_EQ(ToolPaths::folderOf("/a/b/c.msi"), "/a/b");
    EXPECT_EQ(ToolPaths::folderOf("/c.msi"), "/");
    EXPECT_EQ(ToolPaths::folderOf("c.msi"), "");
    EXPECT_EQ(ToolPaths::nameOf("/a/b/c.msi"), "c.msi");
    EXPECT_EQ(ToolPaths::withoutExtension("/a/b/c.msi"), "/a/b/c");
    EXPECT_EQ(ToolPaths::withoutExtension("/a.d/setup"), "/a.d/setup");
    EXPECT_EQ(ToolPaths::withoutExtension("/a/app.v2.msi"), "/a/app.v2");
}

using bmtest::errorOf;

PackageFacts sampleFacts() {
    PackageFacts facts;
    facts.productCode = "{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}";
    facts.productName = std::string("Na\0me", 5);
    facts.iconName = "icon.ico";
    facts.icon = {0, 1, 0xFF, 0};
    facts.details.upgradeCode = "{U}";
    facts.details.summaryTemplate = "x64;1033";
    facts.details.pageCount = 500;
    facts.details.media = {{1, "#a.cab", 3}, {-2, "", 0}};
    facts.details.files = {{"A~1.TXT|a.txt", 0x2000, 1}, {"b", -1, 2}};
    facts.details.components64Bit = 7;
    return facts;
}

TEST(FactsWire, GivesBackWhatItWasGiven) {
    const PackageFacts facts = sampleFacts();
    const std::vector<std::uint8_t> bytes = FactsWire::encode(facts);
    const PackageFacts back = ReaderOutcome::take(bytes, "package 'a.msi'");
    EXPECT_EQ(back.productCode, facts.productCode);
    EXPECT_EQ(back.productName, facts.productName);
    EXPECT_EQ(back.productVersion, "");
    EXPECT_EQ(back.icon, facts.icon);
    EXPECT_EQ(back.details.summaryTemplate, "x64;1033");
    EXPECT_EQ(back.details.pageCount, 500);
    EXPECT_EQ(back.details.wordCount, -1);
    ASSERT_EQ(back.details.media.size(), 2u);
    EXPECT_EQ(back.details.media[0].cabinet, "#a.cab");
    EXPECT_EQ(back.details.media[1].diskId, -2);
    EXPECT_EQ(back.details.media[0].lastSequence, 3);
    ASSERT_EQ(back.details.files.size(), 2u);
    EXPECT_EQ(back.details.files[0].name, "A~1.TXT|a.txt");
    EXPECT_EQ(back.details.files[1].attributes, -1);
    EXPECT_EQ(back.details.files[1].sequence, 2);
    EXPECT_EQ(back.details.components64Bit, 7);
    EXPECT_EQ(errorOf([] {
                  ReaderOutcome::take(FactsWire::encodeRefusal("cannot be opened: no"),
                                      "the package inside 'a b'c.exe'");
              }),
              "the package inside 'a b'c.exe' cannot be opened: no");
}

// The reader may have been led astray: any answer that is not exactly one is
// a damaged package, and no length in it makes the tool allocate for it.
TEST(FactsWire, RefusesEveryAnswerThatIsNotExactlyOne) {
    const std::vector<std::uint8_t> whole = FactsWire::encode(sampleFacts());
    std::vector<std::vector<std::uint8_t>> bad;
    for (std::size_t size = 0; size < whole.size(); ++size) {
        bad.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    }
    bad.push_back(whole);
    bad.back().push_back(0);
    for (const std::size_t at : {std::size_t(0), std::size_t(3), std::size_t(4), std::size_t(5)}) {
        bad.push_back(whole);
        bad.back()[at] ^= 0x40;  // the form's mark, its version, its kind, the first length
    }
    bad.push_back(whole);
    bad.back()[8] = 0xFF;  // the first length's high byte: far beyond the end
    bad.push_back(FactsWire::encodeRefusal(""));
    for (const std::vector<std::uint8_t>& bytes : bad) {
        EXPECT_EQ(
            errorOf([&] {
                ReaderOutcome::take(bytes, "package 'a.msi'");
            }).rfind("the installer library could not read 'a.msi' (it answered nonsense: ", 0),
            0u)
            << bytes.size();
    }
}

// A field longer than any package means is refused as it is read, and the
// tool measures its own reading by the same limits before it asks a reader.
TEST(FactsWire, RefusesFieldsLongerThanAnyPackageMeans) {
    const std::string name(FactsWire::maxNameBytes + 1, 'n');
    const std::string text(FactsWire::maxTextBytes + 1, 't');
    const struct {
        void (*change)(PackageFacts&, const std::string&, const std::string&);
        std::string reason;
    } cases[] = {
        {[](PackageFacts& f, const std::string&, const std::string& t) { f.productName = t; },
         "a property value of 65537 bytes, more than 65536"},
        {[](PackageFacts& f, const std::string&, const std::string& t) {
             f.details.summaryTemplate = t;
         },
         "a property value of 65537 bytes, more than 65536"},
        {[](PackageFacts& f, const std::string& n, const std::string&) {
             f.details.files[1].name = n;
         },
         "a file name of 1025 bytes, more than 1024"},
        {[](PackageFacts& f, const std::string& n, const std::string&) {
             f.details.media[0].cabinet = n;
         },
         "a cabinet name of 1025 bytes, more than 1024"},
    };
    for (const auto& c : cases) {
        PackageFacts facts = sampleFacts();
        c.change(facts, name, text);
        EXPECT_EQ(FactsWire::overLimit(facts), c.reason);
        const std::vector<std::uint8_t> bytes = FactsWire::encode(facts);
        EXPECT_EQ(errorOf([&] { FactsWire::decode(bytes.data(), bytes.size()); }), c.reason);
    }
    EXPECT_EQ(FactsWire::overLimit(sampleFacts()), "");
    // 100,000 files of 100 bytes: far beyond the biggest real package.
    PackageFacts many = sampleFacts();
    many.details.files.assign(100000, {std::string(100, 'f'), 0, 1});
    EXPECT_NE(FactsWire::overLimit(many).find("(100000 File rows, 2 Media rows"),
              std::string::npos);
    EXPECT_GT(FactsWire::encode(many).size(), FactsWire::maxAnswerBytes);
}

TEST(FactsWitness, RefusesEveryFactTheLibraryReadsOtherwise) {
    const PackageFacts core = sampleFacts();
    FactsWitness::compare(core, core, "package 'a.msi'");
    // Rows in another order are the same rows.
    PackageFacts reordered = core;
    std::swap(reordered.details.files[0], reordered.details.files[1]);
    std::swap(reordered.details.media[0], reordered.details.media[1]);
    FactsWitness::compare(core, reordered, "package 'a.msi'");

    const struct {
        void (*change)(PackageFacts&);
        std::string said;
    } cases[] = {
        {[](PackageFacts& f) { f.productCode = "{B}"; },
         "ProductCode '{B}' in package 'a.msi' where the Property table holds "
         "'{6C1E0A51-7B43-4F3C-9E0B-2D5A31C7E000}'"},
        {[](PackageFacts& f) { f.productName = "Na"; },
         "ProductName 'Na' in package 'a.msi' where the Property table holds 'Na\\u0000me'"},
        {[](PackageFacts& f) { f.productVersion = "1"; }, "ProductVersion '1' in"},
        {[](PackageFacts& f) { f.manufacturer = "M"; }, "Manufacturer 'M' in"},
        {[](PackageFacts& f) { f.iconName = ""; }, "ARPPRODUCTICON '' in"},
        {[](PackageFacts& f) { f.icon.pop_back(); },
         "the icon 'icon.ico' as 3 bytes in package 'a.msi' where the Icon table holds 4 bytes"},
        {[](PackageFacts& f) { f.icon[0] = 9; },
         "the icon 'icon.ico' as 4 bytes in package 'a.msi' where the Icon table holds 4 "
         "other bytes"},
        {[](PackageFacts& f) { f.details.upgradeCode = "{V}"; }, "UpgradeCode '{V}' in"},
        {[](PackageFacts& f) { f.details.allUsers = "1"; }, "ALLUSERS '1' in"},
        {[](PackageFacts& f) { f.details.installPerUser = "1"; }, "MSIINSTALLPERUSER '1' in"},
        {[](PackageFacts& f) { f.details.summaryTemplate = "Intel;1033"; },
         "the template 'Intel;1033' in package 'a.msi' where the Summary Information holds "
         "'x64;1033'"},
        {[](PackageFacts& f) { f.details.pageCount = -1; },
         "the page count none in package 'a.msi' where the Summary Information holds 500"},
        {[](PackageFacts& f) { f.details.wordCount = 2; }, "the word count 2 in"},
        {[](PackageFacts& f) { f.details.media.pop_back(); },
         "1 Media rows in package 'a.msi' where the Media table holds 2"},
        {[](PackageFacts& f) { f.details.media[0].diskId = 2; },
         "DiskId 2 in Media row 2 of package 'a.msi' where the Media table holds 1"},
        {[](PackageFacts& f) { f.details.media[0].cabinet = "#A.cab"; },
         "Cabinet '#A.cab' in Media row 2 of"},
        {[](PackageFacts& f) { f.details.media[0].lastSequence = 4; },
         "LastSequence 4 in Media row 2 of"},
        {[](PackageFacts& f) {
             f.details.files.push_back({"c", 0, 3});
         },
         "3 File rows in package 'a.msi' where the File table holds 2"},
        {[](PackageFacts& f) { f.details.files[1].sequence = 1; },
         "Sequence 1 in File row 2 (by Sequence) of package 'a.msi' where the File table "
         "holds 2"},
        {[](PackageFacts& f) { f.details.files[0].name = "a.txt"; },
         "FileName 'a.txt' in File row 1 (by Sequence) of"},
        {[](PackageFacts& f) { f.details.files[0].attributes = 0; }, "Attributes 0 in File row 1"},
        {[](PackageFacts& f) { f.details.components64Bit = 0; },
         "0 64-bit components in package 'a.msi' where the Component table holds 7"},
    };
    for (const auto& c : cases) {
        PackageFacts library = core;
        c.change(library);
        const std::string message =
            errorOf([&] { FactsWitness::compare(core, library, "package 'a.msi'"); });
        EXPECT_EQ(message.rfind("the installer library reads " + c.said, 0), 0u) << message;
        EXPECT_EQ(message.substr(message.size() - 26), ": the package is ambiguous") << message;
    }
}

TEST(FactsWitness, ShowsValuesCutAndVisible) {
    const std::pair<std::string, std::string> cases[] = {
        {"{A}", "{A}"},
        {"a\r\nb\x01", "a\\r\\nb\\u0001"},
        {std::string(64, 'x'), std::string(64, 'x')},
        {std::string(100000, 'x'), std::string(64, 'x') + "..."},
        // Never inside a character: the euro sign at bytes 63 to 65 goes whole.
        {std::string(63, 'x') + "\xE2\x82\xAC" + "y", std::string(63, 'x') + "..."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FactsWitness::shown(c.first), c.second);
    }
}

}  // namespace
