#include "MsiUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "FileUtils.h"
#include "LogCapture.h"
#include "MsiTestSupport.h"
#include "WinErrorHandling.h"
#include "WinSysInfo.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

using bmtest::errorOf;
using bmtest::LogCapture;

namespace {

TEST(MsiLibrary, IsBoundFromTheSystemDirectory) {
    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(msi::lib().MsiInstallProductW), &module));
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    EXPECT_EQ(FileUtils::normalizePath(FileUtils::joinPath(SysInfo::getSystemDir(), L"msi.dll")),
              FileUtils::normalizePath(tstring(path, n)));
}

TEST(MsiHandles, ClosingNeverRaisesAndOnlyAFailureIsLogged) {
    LogCapture log;
    msi::closeMSIHANDLE(0);
    const MSIHANDLE record = msi::lib().MsiCreateRecord(1);
    msi::closeMSIHANDLE(record);
    EXPECT_TRUE(log.events.empty());

    msi::closeMSIHANDLE(record);
    ASSERT_EQ(1u, log.at(L"WARNING").size());
    EXPECT_EQ(L"msi::closeMSIHANDLE", log.events[0].function);
    EXPECT_EQ(L"MsiCloseHandle(" + std::to_wstring(record) + L") failed with error=6",
              log.events[0].message);
}

std::vector<DWORD> readerCalls;

// The real reader, noting the buffer length of every call.
UINT WINAPI countingReader(LPCWSTR product, LPCWSTR name, LPWSTR buffer, DWORD* size) {
    readerCalls.push_back(*size);
    return msi::lib().MsiGetProductInfoW(product, name, buffer, size);
}

TEST(MsiReader, DoublesTheBufferUntilTheValueFits) {
    // 20 characters leave no room for the terminating null in the first
    // buffer: the installer asks for more.
    const struct {
        const TestPackage& package;
        std::vector<DWORD> calls;
    } cases[] = {
        {name19Package, {20}}, {name20Package, {20, 40}}, {name100Package, {20, 40, 80, 160}}};
    for (const auto& c : cases) {
        const InstalledProduct product(c.package);
        ASSERT_EQ(0u, product.status.getCode()) << product.status.getMessage();
        readerCalls.clear();
        const tstring value = msi::readString(countingReader, "MsiGetProductInfo",
                                              c.package.code().toString(), L"ProductName");
        EXPECT_EQ(c.package.productName, value);
        EXPECT_EQ(c.calls, readerCalls) << value.size();
        EXPECT_EQ(value, msi::getProductInfo(c.package.code(), L"ProductName"));
        EXPECT_TRUE(msi::isProductInstalled(c.package.code()));
    }

    const MSIHANDLE record = msi::lib().MsiCreateRecord(2);
    msi::lib().MsiRecordSetStringW(record, 1, tstring(45, L'r').c_str());
    EXPECT_EQ(tstring(45, L'r'),
              msi::readString(msi::lib().MsiRecordGetStringW, "MsiRecordGetString", record, 1u));
    EXPECT_EQ(L"",
              msi::readString(msi::lib().MsiRecordGetStringW, "MsiRecordGetString", record, 2u));
    msi::closeMSIHANDLE(record);
}

TEST(MsiReader, AFailureNamesTheReaderItsArgumentsAndTheStatus) {
    ensureRemoved(name19Package);
    const Guid code = name19Package.code();
    EXPECT_THAT(errorOf([&] { msi::getProductInfo(code, L"VersionString"); }),
                HasSubstr("at msi::{anonymous}::getProperty(): MsiGetProductInfo(" +
                          tstrings::toUtf8(code.toString()) +
                          ", VersionString) failed. MSI error [1605]("));
    EXPECT_FALSE(msi::isProductInstalled(code));
    // Handles and field indices are written as numbers.
    EXPECT_THAT(errorOf([] { msi::getProperty(12345, L"ProductCode"); }),
                HasSubstr(": MsiGetProperty(12345, ProductCode) failed. MSI error [6]("));
    EXPECT_THAT(errorOf([] {
                    msi::readString(msi::lib().MsiRecordGetStringW, "MsiRecordGetString", 54321,
                                    3u);
                }),
                HasSubstr(": MsiRecordGetString(54321, 3) failed. MSI error [6]("));

    LogCapture log;
    EXPECT_EQ(L"", msi::getProductInfo(std::nothrow, code, L"VersionString"));
    EXPECT_EQ(L"", msi::getProperty(std::nothrow, 12345, L"ProductCode"));
    EXPECT_TRUE(log.events.empty());
}

// Puts a chosen file in place of the prefix's msimsg.dll for one test and
// the original back afterwards. A copy of the original that an interrupted
// run left behind is put back first.
class MessageLibrary {
public:
    explicit MessageLibrary(const wchar_t* replacement)
        : target(FileUtils::joinPath(SysInfo::getSystemDir(), L"msimsg.dll")),
          saved(target + L".brumlet-saved") {
        const bool ok = GetFileAttributesW(saved.c_str()) == INVALID_FILE_ATTRIBUTES
                            ? CopyFileW(target.c_str(), saved.c_str(), TRUE)
                            : CopyFileW(saved.c_str(), target.c_str(), FALSE);
        const tstring source = replacement ? FileUtils::joinPath(exeDir(), replacement) : L"";
        if (!ok || !(replacement ? CopyFileW(source.c_str(), target.c_str(), FALSE)
                                 : DeleteFileW(target.c_str()))) {
            throw std::runtime_error("cannot replace msimsg.dll");
        }
    }

    ~MessageLibrary() {
        EXPECT_TRUE(CopyFileW(saved.c_str(), target.c_str(), FALSE) && DeleteFileW(saved.c_str()))
            << "msimsg.dll not restored";
    }

    const tstring target, saved;
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
    } catch (const msi::Error& e) {
        // Wine's own library has no string table.
        EXPECT_EQ(call + ". MSI error [1605](No description)", bareMessage(e));
        EXPECT_THAT(e.what(), StartsWith("MsiUtils.cpp("));
        EXPECT_THAT(e.what(), HasSubstr(") at msi::ActionStatus::throwIt(): " + call));
    }

    const MessageLibrary library(L"brumlet_msimsg_fixture.dll");
    EXPECT_EQ(call +
                  ". MSI error [1605](This action is only valid for products that are "
                  "currently installed.)",
              bareMessage(msi::Error(call, 1605)));
    // 1604 shares the string table block of 1605 but has no text; 2000 has
    // no block at all.
    EXPECT_EQ("Oops. MSI error [1604](No description)",
              bareMessage(msi::Error(tstrings::MessageBuilder() << "Oops", 1604)));
    EXPECT_EQ("Oops. MSI error [2000](No description)", bareMessage(msi::Error("Oops", 2000)));

    const msi::NoMoreItemsError noMore(tstrings::MessageBuilder() << "MsiViewFetch(7) failed");
    EXPECT_EQ(259u, noMore.getCode());
}

TEST(MsiErrorMessage, AMissingMessageLibraryRaisesTheLoaderErrorInstead) {
    const MessageLibrary library(nullptr);
    try {
        msi::ActionStatus("MsiInstallProduct(a.msi, ) failed [1603]", 1603).throwIt();
    } catch (const SysError& e) {
        EXPECT_THAT(e.what(),
                    HasSubstr("at msi::{anonymous}::makeMessage(): LoadLibraryExW(" +
                              tstrings::toUtf8(library.target) + ") failed. System error ["));
        return;
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    ADD_FAILURE() << "no loader error raised";
}

}  // namespace
