#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "Log.h"
#include "Resources.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

class TempDir {
public:
    TempDir() {
        wchar_t base[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, base);
        path = base + std::to_wstring(GetCurrentProcessId()) + L"-res";
        CreateDirectoryW(path.c_str(), nullptr);
    }
    ~TempDir() {
        WIN32_FIND_DATAW fd;
        const HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((path + L"\\" + fd.cFileName).c_str());
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(path.c_str());
    }
    std::vector<std::wstring> entries() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW fd;
        const HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = fd.cFileName;
                if (name != L"." && name != L"..") {
                    names.push_back(name);
                }
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        return names;
    }
    std::wstring path;
};

std::string readFile(const std::wstring& path) {
    std::ifstream in(tstrings::toUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Resource, ReadsDataNamedByTextOrId) {
    const Resource payload(L"payload", RT_RCDATA);
    EXPECT_TRUE(payload.available());
    EXPECT_EQ(7u, payload.size());
    EXPECT_EQ(bytesOf(std::string("\x00\x01\x02\x03"
                                  "abc",
                                  7)),
              payload.bytes());
    DWORD size = 0;
    EXPECT_EQ(payload.rawData(), payload.getPtr(size));
    EXPECT_EQ(7u, size);

    const Resource byId(7, RT_RCDATA, GetModuleHandleW(nullptr));
    EXPECT_EQ(bytesOf("id seven"), byId.bytes());

    EXPECT_EQ(bytesOf("custom"), Resource(L"typed", L"CUSTOMTYPE").bytes());
}

TEST(Resource, EmptyResourceHasNoBytes) {
    const Resource empty(L"empty", RT_RCDATA);
    EXPECT_TRUE(empty.available());
    EXPECT_EQ(0u, empty.size());
    EXPECT_TRUE(empty.bytes().empty());
}

TEST(Resource, MissingResourceNamesItselfInTheError) {
    const Resource missing(L"product_code", RT_RCDATA);
    EXPECT_FALSE(missing.available());
    try {
        missing.bytes();
        FAIL() << "no error raised";
    } catch (const BmErrorBase& e) {
        EXPECT_THAT(e.bareMessage(),
                    StartsWith("cannot find resource (name='product_code', type='#10'). "
                               "System error [1814]"));
    }

    // The caller's text need not outlive the object.
    std::wstring name = L"gone";
    const Resource byText(name.c_str(), L"CUSTOMTYPE");
    name = L"xxxx";
    EXPECT_EQ("cannot load resource (name='gone', type='CUSTOMTYPE')",
              byText.errorText("cannot load resource"));
    EXPECT_EQ("w (name='#7', type='#6')", Resource(7, RT_STRING).errorText("w"));

    try {
        Resource(8, RT_RCDATA).size();
        FAIL() << "no error raised";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("cannot find resource (name='#8', type='#10')"));
    }
}

TEST(Resource, SavesToFileThroughAStagedCopy) {
    TempDir dir;
    const std::wstring target = dir.path + L"\\main.msi";

    Resource(L"payload", RT_RCDATA).saveToFile(target);
    EXPECT_EQ(std::string("\x00\x01\x02\x03"
                          "abc",
                          7),
              readFile(target));

    Resource(L"empty", RT_RCDATA).saveToFile(target);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(target.c_str()));
    EXPECT_EQ("", readFile(target));
    EXPECT_EQ(std::vector<std::wstring>{L"main.msi"}, dir.entries());

    const std::wstring other = dir.path + L"\\other.msi";
    EXPECT_THROW(Resource(L"product_code", RT_RCDATA).saveToFile(other), std::runtime_error);
    EXPECT_EQ(std::vector<std::wstring>{L"main.msi"}, dir.entries());
}

TEST(StringResource, FindsEntriesInTheirBlock) {
    EXPECT_EQ(L"one", StringResource(1).string());
    EXPECT_EQ(L"seventeen", StringResource(17).string());
    EXPECT_EQ(L"gr\u00fc\u00dfe", StringResource(19).string());
    EXPECT_EQ(L"last", StringResource(31).string());
    // Undefined ids inside a defined block are empty entries, not errors.
    EXPECT_EQ(L"", StringResource(18).string());
    EXPECT_EQ(L"", StringResource(0).string());
}

TEST(StringResource, RefusesToReadPastADamagedBlock) {
    for (WORD id : {48, 49, 63}) {
        try {
            StringResource(id).string();
            ADD_FAILURE() << "no error raised for " << id;
        } catch (const BmErrorBase& e) {
            EXPECT_EQ("damaged string table block (name='#" + std::to_string(id) + "', type='#6')",
                      std::string(e.bareMessage()));
        }
    }
}

class CapturingAppender : public LogAppender {
public:
    CapturingAppender() : previous(Logger::instance().installAppender(this)) {}
    ~CapturingAppender() override { Logger::instance().installAppender(previous); }
    void append(const LogEvent& event) override {
        records.push_back(tstrings::toUtf8(event.levelName + L" " + event.message));
    }
    std::vector<std::string> records;

private:
    LogAppender* previous;
};

TEST(StringResource, NoThrowFormLogsAndFallsBack) {
    CapturingAppender log;
    EXPECT_EQ(L"seventeen", StringResource(17).string(std::nothrow, L"fallback"));
    EXPECT_TRUE(log.records.empty());

    // Ids 32 to 47 form block 3, which does not exist.
    EXPECT_THROW(StringResource(40).string(), std::runtime_error);
    EXPECT_EQ(L"fallback", StringResource(40).string(std::nothrow, L"fallback"));
    ASSERT_EQ(1u, log.records.size());
    EXPECT_THAT(log.records[0], StartsWith("ERROR Exception with message '"));
    EXPECT_THAT(log.records[0], HasSubstr("cannot find resource (name='#40', type='#6')"));
}

}  // namespace
