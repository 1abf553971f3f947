#include <gtest/gtest.h>

#include "CommandLine.h"
#include "ProductCode.h"
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

}  // namespace
