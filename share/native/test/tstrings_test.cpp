#include "tstrings.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tstrings;

TEST(Conversions, Utf8RoundTripAndRefusedInput) {
    const tstring wide = L"Gr\u00fc\u00dfe \u65e5\u672c \U0001F600";
    const std::string utf8 = toUtf8(wide);
    EXPECT_EQ(
        "Gr\xc3\xbc\xc3\x9f"
        "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80",
        utf8);
    EXPECT_EQ(wide, fromUtf8(utf8));
    EXPECT_EQ(wide, toWide(utf8));

    EXPECT_EQ("", toUtf8(tstring()));
    EXPECT_EQ(L"", fromUtf8(std::string()));
    // Invalid UTF-8 is refused by the system: an empty string, no error.
    EXPECT_EQ(L"", fromUtf8("abc\xff\xfe"));
    EXPECT_EQ(L"", fromUtf8("\xc3"));
}

TEST(Format, GrowsPastEachBufferAndRejectsNull) {
    EXPECT_EQ(L"7 x ok", format(L"%d x %s", 7, L"ok"));
    for (size_t size : {255u, 256u, 257u, 1000u}) {
        const tstring text(size, L'q');
        const tstring result = format(L"%s", text.c_str());
        EXPECT_EQ(size, result.size());
        EXPECT_EQ(text, result);
    }
    EXPECT_THROW(format(nullptr), std::invalid_argument);
}

TEST(Compare, CaseModesOnlyFoldAscii) {
    EXPECT_TRUE(equals(L"MsiExec.EXE", L"msiexec.exe", IgnoreCase));
    EXPECT_FALSE(equals(L"MsiExec.EXE", L"msiexec.exe"));
    // Non-ASCII letters keep their case in the default locale.
    EXPECT_FALSE(equals(L"\u00c4", L"\u00e4", IgnoreCase));
    EXPECT_TRUE(startsWith(L"Hello", L"hE", IgnoreCase));
    EXPECT_FALSE(startsWith(L"He", L"Hello"));
    EXPECT_TRUE(endsWith(L"main.MSI", L".msi", IgnoreCase));
    EXPECT_FALSE(endsWith(L"main.MSI", L".msi"));
}

TEST(Split, TokensAndEmptyPieces) {
    EXPECT_EQ((tstring_array{L"a", L"", L"b"}), split(L"a;;b", L";"));
    EXPECT_EQ((tstring_array{L"a", L"b"}), split(L"a;;b", L";", SkipEmpty));
    EXPECT_EQ((tstring_array{L"a", L""}), split(L"a;", L";"));
    EXPECT_EQ((tstring_array{L"a"}), split(L"a;", L";", SkipEmpty));
    EXPECT_EQ((tstring_array{L"abc"}), split(L"abc", L";"));
    EXPECT_TRUE(split(L"", L";").empty());
    EXPECT_TRUE(split(L"", L";", SkipEmpty).empty());
    EXPECT_EQ((tstring_array{L"x", L"y=z"}), split(L"x**y=z", L"**"));

    tstring_array appended{L"keep"};
    split(appended, L"1,2", L",");
    EXPECT_EQ((tstring_array{L"keep", L"1", L"2"}), appended);
}

TEST(Edit, TrimAndReplace) {
    EXPECT_EQ(L"a b", trim(L" \t a b\t "));
    EXPECT_EQ(L"", trim(L" \t\t "));
    EXPECT_EQ(L"aaaaaa", replace(L"aaa", L"a", L"aa"));
    EXPECT_EQ(L"abc", replace(L"abc", L"", L"x"));
    EXPECT_EQ(L"a-b-c", replace(L"a b c", L" ", L"-"));
}

TEST(MessageBuilder, InsertionsOfEveryKind) {
    MessageBuilder mb;
    const wchar_t* none = nullptr;
    const char* narrowNone = nullptr;
    mb << narrowNone << " n=" << 42 << L" " << -7LL << L" " << 4294967295u << L" " << none << L" "
       << std::string("\xc3\xbc") << L" " << tstring(L"w");
    EXPECT_EQ(L"NULL n=42 -7 4294967295 NULL \u00fc w", mb.tstr());
    EXPECT_EQ("NULL n=42 -7 4294967295 NULL \xc3\xbc w", mb.str());

    // A narrow C string is widened byte by byte, not decoded.
    EXPECT_EQ(tstring(L"\u00c3\u00bc"), (MessageBuilder() << "\xc3\xbc").tstr());
    // The narrow constructors decode UTF-8.
    EXPECT_EQ(L"\u00fc", MessageBuilder("\xc3\xbc").tstr());

    MessageBuilder pointer;
    pointer << reinterpret_cast<const void*>(0x1234);
    EXPECT_NE(tstring::npos, pointer.tstr().find(L"1234"));
}
