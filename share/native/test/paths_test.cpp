#include <gtest/gtest.h>

#include "FileUtils.h"

using namespace FileUtils;

namespace {

TEST(Paths, DirnameWalksBackOverSeparatorsAndDotEntries) {
    EXPECT_EQ(L"C:\\a", dirname(L"C:\\a\\b"));
    EXPECT_EQ(L"C:\\a\\b", dirname(L"C:\\a\\b\\"));
    EXPECT_EQ(L"C:\\a", dirname(L"C:\\a\\\\b"));
    EXPECT_EQ(L"C:", dirname(L"C:\\a\\."));
    EXPECT_EQ(L"C:", dirname(L"C:\\"));
    EXPECT_EQ(L"C:/a", dirname(L"C:/a/b"));
    EXPECT_EQ(L"", dirname(L"name"));
    EXPECT_EQ(L"", dirname(L"\\name"));
    EXPECT_EQ(L"", dirname(L"\\\\"));
    EXPECT_EQ(L"", dirname(L"\\."));
    EXPECT_EQ(L"", dirname(L""));
}

TEST(Paths, BasenameIsTheTextAfterTheLastSeparator) {
    EXPECT_EQ(L"", basename(L"C:\\a\\"));
    EXPECT_EQ(L"name", basename(L"name"));
    EXPECT_EQ(L"b.txt", basename(L"C:\\a/b.txt"));
}

TEST(Paths, SuffixIgnoresDotsOutsideTheLastNameAndDotDot) {
    EXPECT_EQ(L".txt", suffix(L"a\\b.txt"));
    EXPECT_EQ(L"", suffix(L"a.b\\c"));
    EXPECT_EQ(L"", suffix(L"a\\.."));
    EXPECT_EQ(L"", suffix(L".."));
    EXPECT_EQ(L".hidden", suffix(L"a\\.hidden"));
    EXPECT_EQ(L".", suffix(L"x."));
    EXPECT_EQ(L".txt", suffix(L"a\\b..txt"));
}

TEST(Paths, ReplaceAndRemoveSuffix) {
    EXPECT_EQ(L"a\\b.log", replaceSuffix(L"a\\b.txt", L".log"));
    EXPECT_EQ(L"a\\b.log", replaceSuffix(L"a\\b", L".log"));
    EXPECT_EQ(L"a\\..", replaceSuffix(L"a\\..", L""));
    EXPECT_EQ(L"a.b\\c", removeSuffix(L"a.b\\c"));
    EXPECT_EQ(L"a\\b.c", removeSuffix(L"a\\b.c.d"));
    EXPECT_EQ(L"name", removeSuffix(L"name"));
}

TEST(Paths, JoinPathPutsExactlyOneBackSlashBetweenParts) {
    EXPECT_EQ(L"C:\\a\\b", joinPath(L"C:\\a\\\\", L"\\b"));
    EXPECT_EQ(L"C:\\a\\\\b", joinPath(L"C:\\a", L"\\\\b"));
    EXPECT_EQ(L"b", joinPath(L"", L"b"));
    EXPECT_EQ(L"C:\\a/", joinPath(L"C:\\a/", L""));
    EXPECT_EQ(L"C:\\b", joinPath(L"C:\\", L"b"));
    EXPECT_EQ(L"a\\b", joinPath(L"a/", L"/b"));
}

TEST(Paths, StripAndNormalize) {
    EXPECT_EQ(L"C:\\a", stripTrailingSeparators(L"C:\\a\\/\\"));
    EXPECT_EQ(L"", stripTrailingSeparators(L"\\\\"));
    EXPECT_EQ(L"", stripTrailingSeparators(L""));
    EXPECT_EQ(L"c:\\dir\\file.txt", normalizePath(L"C:/Dir\\FILE.txt"));
}

TEST(Paths, PathBuilderJoinsEveryPart) {
    const tstring path = PathBuilder() << L"C:\\Temp\\" << L"123.tmp" << L"main.msi";
    EXPECT_EQ(L"C:\\Temp\\123.tmp\\main.msi", path);
    EXPECT_EQ(L"C:\\x\\y", (DirectoryPair{L"C:\\x\\", L"y"}).directory());
}

}  // namespace
