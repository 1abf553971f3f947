#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "LogCapture.h"
#include "TempDirTest.h"
#include "WinFileUtils.h"

using namespace FileUtils;
using bmtest::errorOf;
using bmtest::LogCapture;
using ::testing::HasSubstr;

namespace {

std::string u8(const tstring& s) {
    return tstrings::toUtf8(s);
}

DWORD fixedTick;
DWORD fixedTickSource() {
    return fixedTick;
}

class Files : public bmtest::TempDirTest {
protected:
    void TearDown() override {
        TestHooks::setTickCountSource(nullptr);
        TestHooks::setBeforeTempDirectoryCreated(nullptr);
        TempDirTest::TearDown();
    }
    void useTick(DWORD tick) {
        fixedTick = tick;
        TestHooks::setTickCountSource(&fixedTickSource);
    }
};

TEST_F(Files, TempNamesCountUpFromTheSignedTickForOneHundredAttempts) {
    useTick(0x80000005u);
    EXPECT_EQ(path(L"-2147483643.tmp"), createTempFile(L"", L".tmp", dir));
    EXPECT_EQ(path(L"-2147483643-2147483643.tmp"), createTempFile(path(L"-2147483643.tmp")));
    EXPECT_THAT(errorOf([&] { createTempFile(L"a/b", L".tmp", dir); }),
                HasSubstr("Illegal characters in prefix=a/b"));
    EXPECT_THAT(errorOf([&] { createTempFile(L"", L"\t", dir); }),
                HasSubstr("Illegal characters in suffix=\t"));
    EXPECT_EQ(2u, names(dir).size());

    useTick(5000);
    for (int i = 0; i < 99; ++i) {
        writeFile(path(std::to_wstring(5000 + i) + L".tmp"), "taken");
    }
    EXPECT_EQ(path(L"5099.tmp"), createTempFile(L"", L".tmp", dir));
    EXPECT_THAT(errorOf([&] { createTempFile(L"", L".tmp", dir); }),
                HasSubstr("createTempFile(, .tmp, " + u8(dir) + ") failed. System error [80]("));
    EXPECT_EQ("taken", readFile(path(L"5000.tmp")));
    // Each failure names its own cause: a missing folder, or one that is a file.
    EXPECT_THAT(errorOf([&] { createTempFile(L"", L".tmp", path(L"missing")); }),
                HasSubstr("missing) failed. System error [3]("));
    EXPECT_THAT(errorOf([&] { createTempFile(L"", L".tmp", path(L"5000.tmp")); }),
                HasSubstr("5000.tmp) failed. System error [3]("));
}

TEST_F(Files, TempDirectoryIsNeverOneSomebodyElsePlanted) {
    useTick(42);
    EXPECT_EQ(path(L"42.tmp"), createTempDirectory(L"", L".tmp", dir));
    EXPECT_TRUE(isDirectory(path(L"42.tmp")));

    TestHooks::setBeforeTempDirectoryCreated([](const tstring& reserved) {
        CreateDirectoryW(reserved.c_str(), nullptr);
        writeFile(reserved + L"\\main.msi", "planted");
    });
    const std::string error = errorOf([&] { createTempDirectory(L"", L".tmp", dir); });
    EXPECT_THAT(error, HasSubstr("CreateDirectory(" + u8(path(L"43.tmp")) + "\\) failed"));
    EXPECT_THAT(error, HasSubstr("[183]"));
    EXPECT_EQ("planted", readFile(path(L"43.tmp\\main.msi")));
}

TEST_F(Files, CreateDirectoryReportsEachLevelItCreated) {
    tstring_array created;
    LogCapture log;
    createDirectory(path(L"x\\y/"), &created);
    createDirectory(path(L"x\\y"), &created);
    EXPECT_EQ((tstring_array{L"TRACE: Created [" + path(L"x\\") + L"] directory",
                             L"TRACE: Created [" + path(L"x\\y\\") + L"] directory"}),
              log.lines());
    EXPECT_EQ((tstring_array{path(L"x"), path(L"x\\y")}), created);

    writeFile(path(L"file"), "");
    EXPECT_THAT(errorOf([&] { createDirectory(path(L"file\\sub")); }),
                HasSubstr("CreateDirectory(" + u8(path(L"file\\")) + ") failed"));
    // The levels of "\\?\" are no directories to create or test.
    createDirectory(L"\\\\?\\" + path(L"p\\q"), &created);
    EXPECT_EQ(L"\\\\?\\" + path(L"p\\q"), created.back());
}

TEST_F(Files, DeletionClearsReadOnlyAndCountsMissingPathsAsDeleted) {
    const tstring ro = path(L"ro.txt");
    writeFile(ro, "x");
    ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        LogCapture log;
        deleteFile(ro);
        EXPECT_EQ((tstring_array{L"TRACE: Discarded R/O attribute from [" + ro + L"] file",
                                 L"TRACE: Deleted [" + ro + L"] file"}),
                  log.lines());
    }
    EXPECT_FALSE(exists(ro));
    EXPECT_TRUE(deleteFile(path(L"no\\such\\file"), std::nothrow));
    EXPECT_TRUE(deleteDirectory(path(L"missing"), std::nothrow));
    deleteFile(path(L"missing"));

    const tstring held = path(L"held.txt");
    writeFile(held, "x");
    const HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(deleteFile(held, std::nothrow));
    EXPECT_THAT(errorOf([&] { deleteFile(held); }),
                HasSubstr("DeleteFile(" + u8(held) + ") failed. System error [32]"));
    CloseHandle(h);
    EXPECT_THAT(errorOf([&] { deleteDirectory(dir); }),
                HasSubstr("RemoveDirectory(" + u8(dir) + ") failed"));
}

TEST_F(Files, CopyAndMoveCreateTheTargetDirectory) {
    const tstring a = path(L"a.txt");
    const tstring copy = path(L"c\\d\\a.txt");
    writeFile(a, "one");
    LogCapture log;
    copyFile(a, copy, true);
    EXPECT_TRUE(log.contains(L"TRACE: Copied [" + a + L"] file to [" + copy + L"]"));
    EXPECT_THAT(errorOf([&] { copyFile(a, copy, true); }),
                HasSubstr("CopyFile(" + u8(a) + ", " + u8(copy) + ", 1) failed"));

    writeFile(copy, "two");
    EXPECT_THAT(errorOf([&] { moveFile(copy, a, true); }),
                HasSubstr("MoveFileEx(" + u8(copy) + ", " + u8(a) + ", 2) failed"));
    moveFile(copy, a, false);
    EXPECT_EQ("two", readFile(a));
    moveFile(path(L"c"), path(L"e\\f"), false);
    EXPECT_TRUE(
        log.contains(L"TRACE: Moved '" + path(L"c") + L"' folder to '" + path(L"e\\f") + L"'"));
}

TEST_F(Files, QueriesNeverFallBackToTheCurrentDirectory) {
    EXPECT_THAT(errorOf([&] { toShortPath(path(L"missing")); }),
                HasSubstr("GetShortPathName(" + u8(path(L"missing")) + ") failed"));
    EXPECT_FALSE(isNonEmptyDirectory(dir));
    writeFile(path(L"f"), "");
    EXPECT_TRUE(isNonEmptyDirectory(dir));

    wchar_t saved[MAX_PATH + 1] = {};
    GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
    SetEnvironmentVariableW(L"TMP", tstring(300, L'x').c_str());
    const std::string error = errorOf([] { getTempDirectory(); });
    SetEnvironmentVariableW(L"TMP", saved[0] ? saved : nullptr);
    EXPECT_THAT(error, HasSubstr("GetTempPath failed. System error"));
}

TEST_F(Files, LongPathsWorkThroughout) {
    tstring deep = dir;
    for (wchar_t c = L'a'; c < L'j'; ++c) {
        deep += L"\\" + tstring(30, c);
    }
    createDirectory(deep);
    const tstring file = createTempFile(L"", L".bin", deep);
    EXPECT_EQ(file, toAbsolutePath(file));
    EXPECT_FALSE(toShortPath(file).empty());
    copyFile(file, joinPath(createTempDirectory(L"", L".tmp", deep), L"copy.bin"), true);
    EXPECT_EQ(12u, names(dir, true).size());
    EXPECT_TRUE(deleteDirectoryRecursive(path(tstring(30, L'a')), std::nothrow));
    EXPECT_TRUE(names(dir).empty());
}

}  // namespace
