#include "MsiDb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "MsiTestSupport.h"
#include "ScopedDeleter.h"
#include "WinDll.h"
#include "WinFileUtils.h"

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

const tstring packagePath() {
    return FileUtils::joinPath(exeDir(), L"msidb_pkg.msi");
}

std::string bareMessage(const std::exception& e) {
    const auto* located = dynamic_cast<const BmErrorBase*>(&e);
    return located ? located->bareMessage() : e.what();
}

// The installer error that `f` raises, or a note that it raised none.
template <class F>
msi::Error raised(F f) {
    try {
        f();
    } catch (const msi::Error& e) {
        return e;
    }
    return msi::Error("nothing raised", 0);
}

std::string readFile(const tstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

TEST(MsiDatabase, ReadsPropertiesOfAPackageAndOfAnInstalledProduct) {
    const msi::Database db(packagePath());
    EXPECT_EQ(packagePath(), db.getPath());
    EXPECT_EQ(L"{B1E7A0C1-0DB0-4D6B-9A3E-5C1F0B2D0DB0}", db.getProperty(L"ProductCode"));
    EXPECT_EQ(L"a value with blanks, longer than twenty characters",
              db.getProperty(std::nothrow, L"BRUMLET_DB_VALUE"));

    const InstalledProduct product(name19Package);
    ASSERT_EQ(0u, product.status.getCode()) << product.status.getMessage();
    const msi::Database cached(name19Package.code());
    EXPECT_NE(FileUtils::normalizePath(name19Package.path()),
              FileUtils::normalizePath(cached.getPath()));
    EXPECT_EQ(name19Package.productName, cached.getProperty(L"ProductName"));
}

TEST(MsiDatabase, AMissingPropertyRaisesNoMoreItemsAndIsSilentInTheQuietForm) {
    const msi::Database db(packagePath());
    try {
        db.getProperty(L"NO_SUCH_PROPERTY");
        ADD_FAILURE() << "nothing raised";
    } catch (const msi::NoMoreItemsError& e) {
        EXPECT_EQ(259u, e.getCode());
        EXPECT_EQ(
            "No more items in [SELECT Value FROM Property WHERE Property = 'NO_SUCH_PROPERTY'] "
            "query. MSI error [259](No description)",
            bareMessage(e));
        EXPECT_THAT(e.what(), HasSubstr(" at msi::DatabaseView::fetch(): No more items in ["));
    }

    LogCapture log;
    EXPECT_EQ(L"", db.getProperty(std::nothrow, L"NO_SUCH_PROPERTY"));
    EXPECT_THAT(log.records, IsEmpty());
    // A name that breaks the query is a failure worth a record.
    EXPECT_EQ(L"", db.getProperty(std::nothrow, L"it's"));
    ASSERT_EQ(1u, log.at(L"ERROR").size());
    EXPECT_EQ(L"msi::Database::getProperty", log.records[0].function);
    EXPECT_THAT(tstrings::toUtf8(log.records[0].message),
                HasSubstr("MsiDatabaseOpenView(SELECT Value FROM Property WHERE Property = "
                          "'it's') failed. MSI error ["));
}

TEST(MsiDatabase, FailuresNameTheCallAndItsArguments) {
    const tstring missing = FileUtils::joinPath(exeDir(), L"no-such-package.msi");
    EXPECT_THAT(bareMessage(raised([&] { msi::Database db(missing); })),
                HasSubstr("MsiOpenDatabase(" + tstrings::toUtf8(missing) +
                          ", MSIDBOPEN_READONLY) failed. MSI error ["));

    const msi::Database db(packagePath());
    EXPECT_THAT(bareMessage(raised([&] { msi::DatabaseView(db, L"SELECT Nothing FROM Nowhere"); })),
                HasSubstr("MsiDatabaseOpenView(SELECT Nothing FROM Nowhere) failed. MSI error ["));
}

TEST(MsiDatabaseView, ReadsEveryRowThenReportsTheEnd) {
    const msi::Database db(packagePath());
    const tstring query = L"SELECT Name FROM Binary";
    // Once past the end, the installer starts the rows over: each view is
    // read to its end once.
    msi::DatabaseView tried(db, query);
    tstring_array names;
    for (int i = 0; i < 3; ++i) {
        names.push_back(tried.fetch().getString(1));
    }
    EXPECT_THAT(names, UnorderedElementsAre(L"Empty", L"TwoAndAHalfMiB", L"TwoMiB"));
    EXPECT_TRUE(tried.tryFetch().empty());

    msi::DatabaseView fetched(db, query);
    for (int i = 0; i < 3; ++i) {
        fetched.fetch();
    }
    EXPECT_EQ(259u, raised([&] { fetched.fetch(); }).getCode());

    msi::DatabaseRecord byName(1);
    byName.setString(1, L"ProductName");
    msi::DatabaseView param(db, L"SELECT Value FROM Property WHERE Property = ?", byName);
    EXPECT_EQ(L"Brumlet database test", param.fetch().getString(1));

    msi::DatabaseView editable(db, L"SELECT Property, Value FROM Property");
    const msi::DatabaseRecord row = editable.fetch();
    editable.modify(row, MSIMODIFY_REFRESH);
    EXPECT_THAT(bareMessage(raised([&] { editable.modify(row, MSIMODIFY_INSERT); })),
                HasSubstr("MsiViewModify(mode=1) failed. MSI error ["));
}

TEST(MsiDatabaseView, ClosingAViewHandleReleasesItOrWarns) {
    const msi::Database db(packagePath());
    MSIHANDLE view = 0;
    ASSERT_EQ(0u,
              msi::lib().MsiDatabaseOpenViewW(db.getHandle(), L"SELECT Name FROM Binary", &view));
    ASSERT_EQ(0u, msi::lib().MsiViewExecute(view, 0));
    LogCapture log;
    msi::closeDatabaseView(view);
    EXPECT_THAT(log.records, IsEmpty());
    EXPECT_EQ(ERROR_INVALID_HANDLE, msi::lib().MsiCloseHandle(view));

    msi::closeDatabaseView(view);
    ASSERT_EQ(1u, log.at(L"WARNING").size());
    EXPECT_EQ(L"msi::closeDatabaseView", log.records[0].function);
    EXPECT_EQ(L"MsiViewClose(" + std::to_wstring(view) + L") failed with error=6",
              log.records[0].message);
}

// A view whose execution fails is released before the error leaves: only the
// database's handle is still open afterwards.
TEST(MsiDatabaseView, AFailedExecutionLeavesNoViewHandle) {
    const Dll msiDll(tstring(L"msi.dll"));
    const auto closeAll = BM_DLL_BIND(msiDll, MsiCloseAllHandles);
    LogCapture log;
    closeAll();
    {
        const msi::Database db(packagePath());
        const tstring query = L"INSERT INTO Property (Property, Value) VALUES ('ProductCode', 'x')";
        EXPECT_THAT(
            bareMessage(raised([&] { msi::DatabaseView(db, query); })),
            HasSubstr("MsiViewExecute(" + tstrings::toUtf8(query) + ") failed. MSI error ["));
        EXPECT_EQ(1u, closeAll());
    }
    // The database's own release now finds its handle gone.
    EXPECT_EQ(1u, log.at(L"WARNING").size());
}

TEST(MsiDatabaseRecord, FieldsAndTheirFailures) {
    msi::DatabaseRecord record(3);
    EXPECT_EQ(3u, record.getFieldCount());
    record.setString(1, tstring(45, L'r')).setInteger(2, -7);
    EXPECT_EQ(tstring(45, L'r'), record.getString(1));
    EXPECT_EQ(-7, record.getInteger(2));

    const msi::Error null = raised([&] { record.getInteger(3); });
    EXPECT_EQ(1627u, null.getCode());
    EXPECT_THAT(bareMessage(null), HasSubstr("MsiRecordGetInteger(3) failed. MSI error [1627]"));

    const msi::Database db(packagePath());
    msi::DatabaseView view(db, L"SELECT Action, ExtendedType FROM CustomAction");
    const msi::DatabaseRecord row = view.fetch();
    EXPECT_EQ(L"SetUnused", row.getString(1));
    EXPECT_EQ(1627u, raised([&] { row.getInteger(2); }).getCode());

    msi::DatabaseRecord none;
    EXPECT_EQ(1627u, raised([&] { none.getFieldCount(); }).getCode());
    EXPECT_EQ(ERROR_INVALID_HANDLE, raised([&] { none.setString(1, L"x"); }).getCode());
    EXPECT_THAT(bareMessage(raised([&] { none.setInteger(2, -3); })),
                HasSubstr("MsiRecordSetInteger(2, -3) failed"));
}

TEST(MsiDatabaseRecord, MovingReleasesTheReplacedHandleExactlyOnce) {
    LogCapture log;
    {
        msi::DatabaseRecord a(1);
        msi::DatabaseRecord b(2);
        const MSIHANDLE old = a.getHandle();
        const MSIHANDLE kept = b.getHandle();
        a = std::move(b);
        EXPECT_EQ(kept, a.getHandle());
        EXPECT_TRUE(b.empty());
        EXPECT_EQ(ERROR_INVALID_HANDLE, msi::lib().MsiCloseHandle(old));

        msi::DatabaseRecord& same = a;
        a = std::move(same);
        EXPECT_EQ(2u, a.getFieldCount());

        msi::DatabaseRecord c(std::move(a));
        EXPECT_TRUE(a.empty());
        EXPECT_EQ(kept, c.getHandle());
    }
    EXPECT_THAT(log.records, IsEmpty());
}

UINT streamReads;

UINT WINAPI countingReader(MSIHANDLE record, UINT field, char* buffer, DWORD* size) {
    ++streamReads;
    return msi::lib().MsiRecordReadStream(record, field, buffer, size);
}

class MsiStreams : public ::testing::Test {
protected:
    LogCapture quiet;
    void SetUp() override {
        dir = FileUtils::createTempDirectory(L"bmdb", L"", FileUtils::getTempDirectory());
        cleaner.addDirectoryTree(dir);
    }

    tstring dir;
    FileUtils::ScopedDeleter cleaner;
};

TEST_F(MsiStreams, AreSavedWholeInMegabyteReads) {
    const msi::Database db(packagePath());
    const struct {
        const wchar_t *name, *payload;
        UINT reads;
    } cases[] = {{L"Empty", L"msidb_stream_empty.bin", 1},
                 {L"TwoMiB", L"msidb_stream_two.bin", 3},
                 {L"TwoAndAHalfMiB", L"msidb_stream_twohalf.bin", 3}};
    for (const auto& c : cases) {
        msi::DatabaseView view(db,
                               tstring(L"SELECT Data FROM Binary WHERE Name = '") + c.name + L"'");
        const tstring out = FileUtils::joinPath(dir, c.name);
        streamReads = 0;
        view.fetch().saveStreamToFile(1, out, countingReader);
        EXPECT_EQ(c.reads, streamReads) << c.name;
        const std::string expected = readFile(FileUtils::joinPath(exeDir(), c.payload));
        EXPECT_TRUE(expected == readFile(out)) << c.name << ": " << expected.size();
    }

    // From a file into a record and back.
    msi::DatabaseRecord record(1);
    record.setStreamFromFile(1, FileUtils::joinPath(exeDir(), L"msidb_stream_twohalf.bin"));
    record.saveStreamToFile(1, FileUtils::joinPath(dir, L"copy"));
    EXPECT_EQ(readFile(FileUtils::joinPath(dir, L"TwoAndAHalfMiB")),
              readFile(FileUtils::joinPath(dir, L"copy")));
}

TEST_F(MsiStreams, AFailedReadLeavesTheDestinationAsItWas) {
    const tstring out = FileUtils::joinPath(dir, L"kept.txt");
    std::ofstream(out.c_str(), std::ios::binary) << "old content";
    msi::DatabaseRecord record(1);
    record.setString(1, L"not a stream");
    EXPECT_THAT(bareMessage(raised([&] { record.saveStreamToFile(1, out); })),
                HasSubstr("MsiRecordReadStream() failed. MSI error ["));
    EXPECT_EQ("old content", readFile(out));
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(FileUtils::joinPath(dir, L"qzt*").c_str(), &data);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
    }
}

}  // namespace
