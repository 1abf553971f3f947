#include <gtest/gtest.h>

#include "FileUtils.h"

using namespace FileUtils;

namespace {

struct Case {
    tstring (*op)(const tstring&);
    const wchar_t* in;
    const wchar_t* out;
};

TEST(Paths, SplittingPathsIntoParts) {
    const Case cases[] = {
        {dirname, L"C:\\a\\b", L"C:\\a"},
        {dirname, L"C:\\a\\b\\", L"C:\\a\\b"},
        {dirname, L"C:/a//b", L"C:/a"},
        {dirname, L"C:\\a\\.", L"C:"},
        {dirname, L"C:\\", L"C:"},
        {dirname, L"name", L""},
        {dirname, L"\\name", L""},
        {dirname, L"\\.", L""},
        {basename, L"C:\\a\\", L""},
        {basename, L"C:\\a/b.txt", L"b.txt"},
        {basename, L"name", L"name"},
        {suffix, L"a\\b.txt", L".txt"},
        {suffix, L"a.b\\c", L""},
        {suffix, L"a\\..", L""},
        {suffix, L"..", L""},
        {suffix, L"a\\.hidden", L".hidden"},
        {suffix, L"x.", L"."},
        {suffix, L"a\\b..txt", L".txt"},
        {removeSuffix, L"a.b\\c", L"a.b\\c"},
        {removeSuffix, L"a\\b.c.d", L"a\\b.c"},
        {stripTrailingSeparators, L"C:\\a\\/", L"C:\\a"},
        {stripTrailingSeparators, L"\\\\", L""},
        {normalizePath, L"C:/Dir\\FILE.txt", L"c:\\dir\\file.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.out, c.op(c.in)) << "of " << tstrings::toUtf8(c.in);
    }
}

TEST(Paths, ComposingPaths) {
    EXPECT_EQ(L"a\\b.log", replaceSuffix(L"a\\b.txt", L".log"));
    EXPECT_EQ(L"a\\b.log", replaceSuffix(L"a\\b", L".log"));
    EXPECT_EQ(L"C:\\a\\b", joinPath(L"C:\\a\\\\", L"\\b"));
    EXPECT_EQ(L"C:\\a\\\\b", joinPath(L"C:\\a", L"\\\\b"));
    EXPECT_EQ(L"b", joinPath(L"", L"b"));
    EXPECT_EQ(L"C:\\a/", joinPath(L"C:\\a/", L""));
    const tstring path = PathBuilder() << L"C:\\Temp\\" << L"123.tmp" << L"main.msi";
    EXPECT_EQ(L"C:\\Temp\\123.tmp\\main.msi", path);
}

}  // namespace
