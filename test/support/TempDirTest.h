#pragma once

// A test on the real file system, in a fresh directory of its own.
//
// Header only, so that the support library needs no more than the share
// layer; the programs using it link the Windows layer for the file helpers.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "DirectoryIterator.h"
#include "LogCapture.h"
#include "WinFileUtils.h"

namespace bmtest {

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = FileUtils::createTempDirectory(L"bmtest", L"", FileUtils::getTempDirectory());
    }
    // Plain Win32 first, so that a fault in the code under test cannot leave litter.
    void TearDown() override {
        for (const tstring& p : names(dir, true)) {
            SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        FileUtils::deleteDirectoryRecursive(dir, std::nothrow);
    }

    tstring path(const tstring& name) const { return dir + L"\\" + name; }

    static void writeFile(const tstring& file, const std::string& content) {
        std::ofstream(file.c_str(), std::ios::binary) << content;
    }
    static std::string readFile(const tstring& file) {
        std::ifstream in(file.c_str(), std::ios::binary);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
    }
    static bool exists(const tstring& p) { return FileUtils::pathExists(p); }

    // Sorted names (or full paths) of the entries in `d`.
    static tstring_array names(const tstring& d, bool fullPaths = false) {
        tstring_array items;
        FileUtils::DirectoryIterator(d).recursive(fullPaths).findItems(items);
        for (tstring& item : items) {
            item = fullPaths ? item : FileUtils::basename(item);
        }
        std::sort(items.begin(), items.end());
        return items;
    }

    tstring dir;

private:
    // Keeps the test's output free of the file helpers' trace records.
    LogCapture quiet;
};

}  // namespace bmtest
