#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "DirectoryIterator.h"
#include "ErrorOf.h"
#include "LogCapture.h"
#include "ScopedDeleter.h"
#include "TempDirTest.h"
#include "WinFileUtils.h"

using namespace FileUtils;
using bmtest::errorOf;
using bmtest::LogCapture;
using ::testing::HasSubstr;

namespace {

class Batch : public bmtest::TempDirTest {
protected:
    // t: a.txt, ro.txt (read-only), sub\b.txt, sub\deeper\c.txt, sub2\d.txt
    tstring makeTree() {
        const tstring t = path(L"t");
        createDirectory(t + L"\\sub\\deeper");
        createDirectory(t + L"\\sub2");
        for (const wchar_t* name :
             {L"a.txt", L"ro.txt", L"sub\\b.txt", L"sub\\deeper\\c.txt", L"sub2\\d.txt"}) {
            writeFile(t + L"\\" + name, "x");
        }
        SetFileAttributesW((t + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        return t;
    }
};

TEST_F(Batch, RecursiveDeletionRemovesAllButWhatIsHeldOpenAndReportsIt) {
    const tstring t = makeTree();
    const tstring held = t + L"\\sub\\b.txt";
    const HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(deleteDirectoryRecursive(t, std::nothrow));
    EXPECT_EQ((tstring_array{t + L"\\sub", held}), names(t, true));
    EXPECT_THAT(errorOf([&] { deleteDirectoryRecursive(t); }),
                HasSubstr("DeleteFile(" + tstrings::toUtf8(held) + ") failed"));
    CloseHandle(h);
    deleteDirectoryRecursive(t);
    EXPECT_FALSE(exists(t));

    const tstring t2 = makeTree();
    EXPECT_TRUE(deleteFilesInDirectory(t2, std::nothrow));
    EXPECT_EQ((tstring_array{L"sub", L"sub2"}), names(t2));
    EXPECT_FALSE(deleteFilesInDirectory(t2 + L"\\sub\\b.txt", std::nothrow));
}

// Run by files.cmake on a prepared tree, as Wine shows Unix symbolic links as
// directory links: tree\file.txt, tree\link -> outside holding keep.txt.
TEST_F(Batch, RecursiveDeletionNeverFollowsALink) {
    const char* root = std::getenv("BRUMLET_TEST_LINK_TREE");
    if (!root) {
        GTEST_SKIP() << "needs a tree with a directory link";
    }
    const tstring tree = tstrings::fromUtf8(root) + L"\\tree";
    const tstring kept = tstrings::fromUtf8(root) + L"\\outside\\keep.txt";
    EXPECT_EQ((tstring_array{tree + L"\\file.txt", tree + L"\\link"}), names(tree, true));
    deleteDirectoryRecursive(tree + L"\\link", std::nothrow);
    EXPECT_EQ("keep\n", readFile(kept));
    deleteDirectoryRecursive(tree, std::nothrow);
    EXPECT_FALSE(exists(tree + L"\\file.txt"));
    EXPECT_EQ("keep\n", readFile(kept));
}

TEST_F(Batch, IteratorListsEachFolderRightBeforeItsContents) {
    const tstring t = makeTree();
    tstring_array all;
    DirectoryIterator(t).findItems(all);
    const auto deeper = std::find(all.begin(), all.end(), t + L"\\sub\\deeper");
    ASSERT_NE(all.end(), deeper);
    EXPECT_EQ(t + L"\\sub\\deeper\\c.txt", *(deeper + 1));
    EXPECT_EQ(8u, all.size());

    tstring_array some;
    DirectoryIterator(t).withFiles(false).findItems(some);
    EXPECT_EQ(3u, some.size());
    DirectoryIterator(t).recursive(false).withFolders(false).findItems(some);
    DirectoryIterator(path(L"missing")).findItems(some);
    EXPECT_EQ(5u, some.size());
}

TEST_F(Batch, DeleterRemovesFilesBeforeTreesAndRunsOnce) {
    const tstring t = makeTree();
    const tstring outside = path(L"outside.txt");
    writeFile(outside, "x");
    {
        LogCapture log;
        ScopedDeleter deleter;
        deleter.addDirectoryTree(t).addFile(outside).addFile(t + L"\\a.txt");
        deleter.execute();
        ASSERT_LE(2u, log.events.size());
        EXPECT_EQ(L"TRACE: Deleted [" + outside + L"] file", log.lines()[0]);
        EXPECT_EQ(L"TRACE: Deleted [" + t + L"\\a.txt] file", log.lines()[1]);
        EXPECT_FALSE(exists(t));
        writeFile(outside, "new");
    }
    EXPECT_EQ("new", readFile(outside));
    {
        ScopedDeleter moved(std::move(ScopedDeleter().addFile(outside)));
        moved.cancel();
    }
    EXPECT_TRUE(exists(outside));
}

TEST_F(Batch, EmptyDirectoryChainStopsAtTheBaseOrWhenNothingIsLeft) {
    createDirectory(path(L"Made\\By\\Us"));
    writeFile(path(L"Made\\keep.txt"), "x");
    {
        ScopedDeleter deleter;
        deleter.addEmptyDirectoryChain(DirectoryPair{dir + L"\\", L"Made\\By\\Us\\"});
        EXPECT_EQ(3u, deleter.items().size());
        EXPECT_EQ(normalizePath(path(L"made\\by\\us")), deleter.items()[0].first);
    }
    EXPECT_EQ(tstring_array{L"keep.txt"}, names(path(L"Made")));

    // "x\." is the base itself, yet walking up never meets its text.
    ScopedDeleter odd;
    odd.addEmptyDirectoryChain(DirectoryPair{L"C:\\x\\.", L"."});
    EXPECT_EQ(L"c:", odd.items().back().first);
    odd.cancel();
}

}  // namespace
