#include "MsiUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FileUtils.h"
#include "MsiTestSupport.h"
#include "WinErrorHandling.h"
#include "WinSysInfo.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

std::string utf8(const tstring& s) {
    return tstrings::toUtf8(s);
}

TEST(MsiLibrary, IsBoundFromTheSystemDirectory) {
    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(msi::lib().MsiInstallProductW), &module));
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    EXPECT_EQ(FileUtils::normalizePath(FileUtils::joinPath(SysInfo::getSystemDir(), L"msi.dll")),
              FileUtils::normalizePath(tstring(path, n)));
    // Bound once: every call hands out the same table.
    EXPECT_EQ(&msi::lib(), &msi::lib());
}

TEST(MsiHandles, ClosingNeverRaisesAndOnlyAFailureIsLogged) {
    LogCapture log;
    msi::closeMSIHANDLE(0);
    const MSIHANDLE record = msi::lib().MsiCreateRecord(1);
    ASSERT_NE(0u, record);
    msi::closeMSIHANDLE(record);
    EXPECT_TRUE(log.records.empty());
    // The handle really went: the installer no longer knows it.
    EXPECT_EQ(static_cast<UINT>(ERROR_INVALID_HANDLE), msi::lib().MsiCloseHandle(record));

    msi::closeMSIHANDLE(record);
    ASSERT_EQ(1u, log.records.size());
    EXPECT_EQ(L"WARNING", log.records[0].level);
    EXPECT_EQ(L"msi::closeMSIHANDLE", log.records[0].function);
    EXPECT_EQ(L"MsiCloseHandle(" + std::to_wstring(record) + L") failed with error=6",
              log.records[0].message);
}

TEST(ActionStatusTest, OnlyZeroAndTheRebootCodesAreSuccesses) {
    for (UINT code : {0u, 1641u, 3010u}) {
        EXPECT_TRUE(msi::ActionStatus("", code).isSuccess()) << code;
    }
    for (UINT code : {1u, 234u, 1602u, 1603u, 1605u, 3011u}) {
        EXPECT_FALSE(msi::ActionStatus("x", code).isSuccess()) << code;
    }
}

// Reads product information through the real reader and notes the buffer
// length of every call.
std::vector<DWORD> readerCalls;

UINT WINAPI countingReader(LPCWSTR product, LPCWSTR name, LPWSTR buffer, DWORD* size) {
    readerCalls.push_back(*size);
    return msi::lib().MsiGetProductInfoW(product, name, buffer, size);
}

TEST(MsiReader, DoublesTheBufferUntilTheValueFits) {
    const InstalledProduct p19(name19Package);
    const InstalledProduct p20(name20Package);
    const InstalledProduct p100(name100Package);
    ASSERT_EQ(0u, p19.status().getCode()) << p19.status().getMessage();
    ASSERT_EQ(0u, p20.status().getCode()) << p20.status().getMessage();
    ASSERT_EQ(0u, p100.status().getCode()) << p100.status().getMessage();

    struct Case {
        const TestPackage& package;
        size_t length;
        std::vector<DWORD> calls;
    };
    // 20 characters leave no room for the terminating null in the first
    // buffer: the installer asks for more.
    const Case cases[] = {{name19Package, 19, {20}},
                          {name20Package, 20, {20, 40}},
                          {name100Package, 100, {20, 40, 80, 160}}};
    for (const Case& c : cases) {
        readerCalls.clear();
        const tstring value = msi::readString(countingReader, "MsiGetProductInfo",
                                              c.package.code().toString(), L"ProductName");
        EXPECT_EQ(c.package.productName, value);
        EXPECT_EQ(c.length, value.size());
        EXPECT_EQ(c.calls, readerCalls) << c.length;
        EXPECT_EQ(value, msi::getProductInfo(c.package.code(), L"ProductName"));
    }

    EXPECT_TRUE(msi::isProductInstalled(name19Package.code()));
}

TEST(MsiReader, ReadsRecordFieldsAndEmptyValues) {
    const MSIHANDLE record = msi::lib().MsiCreateRecord(2);
    ASSERT_NE(0u, record);
    const tstring longText(45, L'r');
    ASSERT_EQ(0u, msi::lib().MsiRecordSetStringW(record, 1, longText.c_str()));
    EXPECT_EQ(longText,
              msi::readString(msi::lib().MsiRecordGetStringW, "MsiRecordGetString", record, 1u));
    EXPECT_EQ(L"",
              msi::readString(msi::lib().MsiRecordGetStringW, "MsiRecordGetString", record, 2u));
    msi::closeMSIHANDLE(record);
}

TEST(MsiReader, AFailureNamesTheReaderItsArgumentsAndTheStatus) {
    ensureRemoved(name19Package);
    const tstring code = name19Package.productCode;
    try {
        msi::getProductInfo(name19Package.code(), L"VersionString");
        FAIL() << "no error raised";
    } catch (const msi::Error& e) {
        EXPECT_EQ(static_cast<UINT>(ERROR_UNKNOWN_PRODUCT), e.getCode());
        EXPECT_THAT(e.what(), HasSubstr(": MsiGetProductInfo(" + utf8(code) +
                                        ", VersionString) failed. MSI error [1605]("));
        EXPECT_THAT(e.what(), HasSubstr("at msi::{anonymous}::getProperty(): "));
    }
    EXPECT_FALSE(msi::isProductInstalled(name19Package.code()));

    try {
        msi::getProperty(12345, L"ProductCode");
        FAIL() << "no error raised";
    } catch (const msi::Error& e) {
        EXPECT_EQ(static_cast<UINT>(ERROR_INVALID_HANDLE), e.getCode());
        EXPECT_THAT(e.what(),
                    HasSubstr(": MsiGetProperty(12345, ProductCode) failed. MSI error [6]("));
    }
    try {
        msi::readString(msi::lib().MsiRecordGetStringW, "MsiRecordGetString", 54321, 3u);
        FAIL() << "no error raised";
    } catch (const msi::Error& e) {
        EXPECT_THAT(e.what(), HasSubstr(": MsiRecordGetString(54321, 3) failed. MSI error [6]("));
    }

    LogCapture log;
    EXPECT_EQ(L"", msi::getProductInfo(std::nothrow, name19Package.code(), L"VersionString"));
    EXPECT_EQ(L"", msi::getProperty(std::nothrow, 12345, L"ProductCode"));
    EXPECT_TRUE(log.records.empty());
}

// Puts a chosen file in place of the prefix's msimsg.dll for one test and
// puts the original back afterwards. A copy of the original left behind by
// an interrupted run is restored first.
class MessageLibrary {
public:
    enum Content { Fixture, Missing };

    explicit MessageLibrary(Content content)
        : target(FileUtils::joinPath(SysInfo::getSystemDir(), L"msimsg.dll")),
          saved(target + L".brumlet-saved") {
        if (GetFileAttributesW(saved.c_str()) == INVALID_FILE_ATTRIBUTES) {
            check(CopyFileW(target.c_str(), saved.c_str(), TRUE), "save");
        } else {
            check(CopyFileW(saved.c_str(), target.c_str(), FALSE), "restore");
        }
        if (content == Fixture) {
            const tstring fixture = FileUtils::joinPath(exeDir(), L"brumlet_msimsg_fixture.dll");
            check(CopyFileW(fixture.c_str(), target.c_str(), FALSE), "replace");
        } else {
            check(DeleteFileW(target.c_str()), "delete");
        }
    }

    ~MessageLibrary() {
        if (CopyFileW(saved.c_str(), target.c_str(), FALSE)) {
            DeleteFileW(saved.c_str());
        } else {
            ADD_FAILURE() << "msimsg.dll not restored: " << GetLastError();
        }
    }

    const tstring& path() const { return target; }

private:
    static void check(BOOL ok, const char* what) {
        if (!ok) {
            throw std::runtime_error(std::string("cannot ") + what + " msimsg.dll");
        }
    }

    tstring target;
    tstring saved;
};

std::string bareMessage(const msi::Error& e) {
    const auto* located = dynamic_cast<const BmErrorBase*>(&e);
    return located ? located->bareMessage() : e.what();
}

TEST(MsiErrorMessage, QuotesTheDescriptionFromTheSystemMessageLibrary) {
    const std::string call =
        "MsiConfigureProductEx({X}, 65535, 2, REBOOT=ReallySuppress) failed [1605]";
    try {
        msi::ActionStatus(call, 1605).throwIt();
        FAIL() << "no error raised";
    } catch (const msi::Error& e) {
        // Wine's own library has no string table.
        EXPECT_EQ(call + ". MSI error [1605](No description)", bareMessage(e));
        EXPECT_THAT(e.what(), StartsWith("MsiUtils.cpp("));
        EXPECT_THAT(e.what(), HasSubstr(") at msi::ActionStatus::throwIt(): " + call));
        EXPECT_EQ(1605u, e.getCode());
    }

    const MessageLibrary library(MessageLibrary::Fixture);
    EXPECT_EQ(call +
                  ". MSI error [1605](This action is only valid for products that are "
                  "currently installed.)",
              bareMessage(msi::Error(call, 1605)));
    // 1604 lies in the same block of the string table as 1605 but has no text.
    EXPECT_EQ("Oops. MSI error [1604](No description)",
              bareMessage(msi::Error(tstrings::MessageBuilder() << "Oops", 1604)));
    EXPECT_EQ("Oops. MSI error [2000](No description)", bareMessage(msi::Error("Oops", 2000)));

    const msi::NoMoreItemsError noMore(tstrings::MessageBuilder() << "MsiViewFetch(7) failed");
    EXPECT_EQ(259u, noMore.getCode());
    EXPECT_EQ("MsiViewFetch(7) failed. MSI error [259](No description)", bareMessage(noMore));
}

TEST(MsiErrorMessage, AMissingMessageLibraryRaisesTheLoaderError) {
    const MessageLibrary library(MessageLibrary::Missing);
    try {
        msi::ActionStatus("MsiInstallProduct(a.msi, ) failed [1603]", 1603).throwIt();
        FAIL() << "no error raised";
    } catch (const msi::Error& e) {
        FAIL() << "the installer error was made: " << e.what();
    } catch (const SysError& e) {
        EXPECT_THAT(e.what(), HasSubstr("at msi::{anonymous}::makeMessage(): LoadLibraryExW(" +
                                        utf8(library.path()) + ") failed. System error ["));
    }
}

}  // namespace
