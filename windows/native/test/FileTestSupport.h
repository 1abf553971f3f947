#pragma once

// Helpers for tests that work on the real file system: a fresh directory per
// test and a capture of the records the logger receives.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Log.h"
#include "WinFileUtils.h"

namespace filetest {

class LogCapture : public LogAppender {
public:
    LogCapture() : previous(Logger::instance().installAppender(this)) {
        Logger::instance().setThreshold(LogLevel::Trace);
    }
    ~LogCapture() override { Logger::instance().installAppender(previous); }

    void append(const LogEvent& event) override {
        records.push_back(event.levelName + L": " + event.message);
    }

    bool contains(const tstring& record) const {
        for (const tstring& r : records) {
            if (r == record) {
                return true;
            }
        }
        return false;
    }

    size_t count(const tstring& prefix) const {
        size_t n = 0;
        for (const tstring& r : records) {
            n += r.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        }
        return n;
    }

    std::vector<tstring> records;

private:
    LogAppender* previous;
};

// Every test gets a new empty directory in the temporary directory, removed
// afterwards with whatever the test left in it.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Quiet unless a test captures the log itself.
        previousAppender = Logger::instance().installAppender(&quiet);
        wchar_t buffer[MAX_PATH + 1] = {};
        ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, buffer));
        dir = tstring(buffer) + L"bmtest" + std::to_wstring(GetCurrentProcessId()) + L"_" +
              std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++counter);
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    }

    void TearDown() override {
        removeTree(dir);
        Logger::instance().installAppender(previousAppender);
    }

    tstring path(const tstring& name) const { return dir + L"\\" + name; }

    static void writeFile(const tstring& file, const std::string& content) {
        const HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written = 0;
        ASSERT_TRUE(
            WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
        CloseHandle(h);
    }

    static std::string readFile(const tstring& file) {
        const HANDLE h = CreateFileW(file.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return "<missing>";
        }
        std::string content;
        char chunk[4096];
        DWORD n = 0;
        while (ReadFile(h, chunk, sizeof(chunk), &n, nullptr) && n > 0) {
            content.append(chunk, n);
        }
        CloseHandle(h);
        return content;
    }

    static bool exists(const tstring& p) {
        return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    // Names in `d`, without "." and "..", sorted.
    static std::vector<tstring> list(const tstring& d) {
        std::vector<tstring> names;
        WIN32_FIND_DATAW entry;
        const HANDLE h = FindFirstFileW((d + L"\\*").c_str(), &entry);
        if (h == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const tstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(h, &entry));
        FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }

    // Plain Win32, so a fault in the code under test cannot leave litter.
    static void removeTree(const tstring& d) {
        for (const tstring& name : list(d)) {
            const tstring p = d + L"\\" + name;
            SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (GetFileAttributesW(p.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(p);
            } else {
                DeleteFileW(p.c_str());
            }
        }
        RemoveDirectoryW(d.c_str());
    }

    tstring dir;

private:
    static inline int counter = 0;
    NopLogAppender quiet;
    LogAppender* previousAppender = nullptr;
};

// Runs `body` and returns the message of the runtime error it raised, or a
// note that it raised none.
template <class Body>
std::string errorOf(Body body) {
    try {
        body();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no error>";
}

}  // namespace filetest
