#include "MsiDb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "LogCapture.h"
#include "MsiTestSupport.h"
#include "TempDirTest.h"
#include "WinDll.h"
#include "WinFileUtils.h"

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

using bmtest::LogCapture;

namespace {

const tstring package = FileUtils::joinPath(exeDir(), L"msidb_pkg.msi");

// The bare text and code of the installer error that `f` raises.
template <class F>
std::pair<std::string, UINT> raised(F f) {
    try {
        f();
    } catch (const msi::Error& e) {
        return {dynamic_cast<const BmErrorBase&>(e).bareMessage(), e.getCode()};
    }
    return {"nothing raised", 0};
}

TEST(MsiDatabase, ReadsThePropertiesOfAPackageAndOfAnInstalledProduct) {
    const msi::Database db(package);
    EXPECT_EQ(L"{B1E7A0C1-0DB0-4D6B-9A3E-5C1F0B2D0DB0}", db.getProperty(L"ProductCode"));
    EXPECT_EQ(L"a value with blanks, longer than twenty characters",
              db.getProperty(std::nothrow, L"BRUMLET_DB_VALUE"));

    const LogCapture quiet;
    const tstring missing = FileUtils::joinPath(exeDir(), L"no-such-package.msi");
    EXPECT_THAT(raised([&] { msi::Database none(missing); }).first,
                HasSubstr("MsiOpenDatabase(" + tstrings::toUtf8(missing) +
                          ", MSIDBOPEN_READONLY) failed. MSI error ["));

    const InstalledProduct product(name19Package);
    ASSERT_EQ(0u, product.status.getCode()) << product.status.getMessage();
    const msi::Database cached(name19Package.code());
    EXPECT_NE(FileUtils::normalizePath(name19Package.path()),
              FileUtils::normalizePath(cached.getPath()));
    EXPECT_EQ(name19Package.productName, cached.getProperty(L"ProductName"));
}

TEST(MsiDatabase, AMissingPropertyRaisesNoMoreItemsAndOnlyOtherFailuresAreLogged) {
    const msi::Database db(package);
    try {
        db.getProperty(L"NO_SUCH_PROPERTY");
        ADD_FAILURE() << "nothing raised";
    } catch (const msi::NoMoreItemsError& e) {
        EXPECT_EQ(259u, e.getCode());
        EXPECT_THAT(e.what(), HasSubstr(" at msi::DatabaseView::fetch(): No more items in [SELECT "
                                        "Value FROM Property WHERE Property = 'NO_SUCH_PROPERTY'] "
                                        "query. MSI error [259]"));
    }

    LogCapture log;
    EXPECT_EQ(L"", db.getProperty(std::nothrow, L"NO_SUCH_PROPERTY"));
    EXPECT_THAT(log.events, IsEmpty());
    // A name that breaks the query.
    EXPECT_EQ(L"", db.getProperty(std::nothrow, L"it's"));
    ASSERT_EQ(1u, log.at(L"ERROR").size());
    EXPECT_EQ(L"msi::Database::getProperty", log.events[0].function);
    EXPECT_THAT(tstrings::toUtf8(log.events[0].message),
                HasSubstr("MsiDatabaseOpenView(SELECT Value FROM Property WHERE Property = "
                          "'it's') failed. MSI error ["));
}

TEST(MsiDatabaseView, ReadsEveryRowThenReportsTheEnd) {
    const msi::Database db(package);
    msi::DatabaseView view(db, L"SELECT Name FROM Binary");
    tstring_array names;
    for (int i = 0; i < 3; ++i) {
        names.push_back(view.fetch().getString(1));
    }
    EXPECT_THAT(names, UnorderedElementsAre(L"Empty", L"TwoAndAHalfMiB", L"TwoMiB"));
    EXPECT_TRUE(view.tryFetch().empty());
}

// How many view handles are open in this process. Only views are counted:
// a count of every handle of the thread also takes in whatever the installer
// library keeps open for itself, which made this check fail now and then.
// The installer hands out small handle numbers, lowest free first.
size_t openViews() {
    msi::lib();
    const auto getError = BM_DLL_BIND(Dll(tstring(L"msi.dll")), MsiViewGetErrorW);
    size_t views = 0;
    for (MSIHANDLE h = 1; h <= 4096; ++h) {
        wchar_t column[80];
        DWORD size = 80;
        views += getError(h, column, &size) != MSIDBERROR_INVALIDARG;
    }
    return views;
}

// The view is released before the error leaves.
TEST(MsiDatabaseView, AFailedExecutionLeavesNoViewHandle) {
    const msi::Database db(package);
    const size_t before = openViews();
    {
        const msi::DatabaseView live(db, L"SELECT Name FROM Binary");
        ASSERT_EQ(before + 1, openViews()) << "a live view is seen";
    }
    const tstring query = L"INSERT INTO Property (Property, Value) VALUES ('ProductCode', 'x')";
    EXPECT_THAT(raised([&] { msi::DatabaseView(db, query); }).first,
                HasSubstr("MsiViewExecute(" + tstrings::toUtf8(query) + ") failed"));
    EXPECT_EQ(before, openViews());
}

TEST(MsiDatabaseRecord, ANullIntegerAndAnEmptyRecordRaise) {
    const msi::Database db(package);
    msi::DatabaseView view(db, L"SELECT Action, ExtendedType FROM CustomAction");
    const msi::DatabaseRecord row = view.fetch();
    EXPECT_EQ(L"SetUnused", row.getString(1));
    EXPECT_EQ(std::make_pair(std::string("MsiRecordGetInteger(2) failed. MSI error "
                                         "[1627](No description)"),
                             1627u),
              raised([&] { row.getInteger(2); }));

    EXPECT_EQ(1627u, raised([] { msi::DatabaseRecord().getFieldCount(); }).second);
}

TEST(MsiDatabaseRecord, MovingReleasesTheReplacedHandleExactlyOnce) {
    LogCapture log;
    {
        msi::DatabaseRecord a(1), b(2);
        const MSIHANDLE old = a.getHandle(), kept = b.getHandle();
        a = std::move(b);
        EXPECT_EQ(kept, a.getHandle());
        EXPECT_TRUE(b.empty());
        EXPECT_EQ(ERROR_INVALID_HANDLE, msi::lib().MsiCloseHandle(old));

        msi::DatabaseRecord& same = a;
        a = std::move(same);
        EXPECT_EQ(2u, a.getFieldCount());
    }
    EXPECT_THAT(log.events, IsEmpty()) << "nothing released twice";
}

UINT streamReads;

UINT WINAPI countingReader(MSIHANDLE record, UINT field, char* buffer, DWORD* size) {
    ++streamReads;
    return msi::lib().MsiRecordReadStream(record, field, buffer, size);
}

class MsiStreams : public bmtest::TempDirTest {};

TEST_F(MsiStreams, AreSavedWholeInMegabyteReads) {
    const msi::Database db(package);
    const struct {
        const wchar_t *name, *payload;
        UINT reads;
    } cases[] = {{L"Empty", L"msidb_stream_empty.bin", 1},
                 {L"TwoMiB", L"msidb_stream_two.bin", 3},
                 {L"TwoAndAHalfMiB", L"msidb_stream_twohalf.bin", 3}};
    for (const auto& c : cases) {
        msi::DatabaseRecord name(1);
        name.setString(1, c.name);
        msi::DatabaseView view(db, L"SELECT Data FROM Binary WHERE Name = ?", name);
        const tstring out = FileUtils::joinPath(dir, c.name);
        streamReads = 0;
        view.fetch().saveStreamToFile(1, out, countingReader);
        EXPECT_EQ(c.reads, streamReads) << c.name;
        const std::string expected = readFile(FileUtils::joinPath(exeDir(), c.payload));
        EXPECT_TRUE(expected == readFile(out)) << c.name << ": " << expected.size();
    }

    msi::DatabaseRecord record(1);
    record.setStreamFromFile(1, FileUtils::joinPath(exeDir(), L"msidb_stream_two.bin"));
    record.saveStreamToFile(1, FileUtils::joinPath(dir, L"copy"));
    EXPECT_TRUE(readFile(FileUtils::joinPath(dir, L"TwoMiB")) ==
                readFile(FileUtils::joinPath(dir, L"copy")));
}

TEST_F(MsiStreams, AFailedReadLeavesTheDestinationAsItWas) {
    const tstring out = FileUtils::joinPath(dir, L"kept.txt");
    std::ofstream(out.c_str(), std::ios::binary) << "old content";
    msi::DatabaseRecord record(1);
    record.setString(1, L"not a stream");
    EXPECT_THAT(raised([&] { record.saveStreamToFile(1, out); }).first,
                HasSubstr("MsiRecordReadStream() failed. MSI error ["));
    EXPECT_EQ("old content", readFile(out));
    WIN32_FIND_DATAW found;
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              FindFirstFileW(FileUtils::joinPath(dir, L"qzt*").c_str(), &found))
        << "no staged file left";
}

}  // namespace
