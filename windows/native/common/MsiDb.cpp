#include "MsiDb.h"

#include <vector>

#include "ErrorHandling.h"
#include "Log.h"
#include "MsiUtils.h"
#include "StagedFileWriter.h"

namespace msi {

namespace {

MSIHANDLE openDatabase(const tstring& path) {
    MSIHANDLE h = 0;
    const UINT status = lib().MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &h);
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder()
                           << "MsiOpenDatabase(" << path << ", MSIDBOPEN_READONLY) failed",
                       status));
    }
    return h;
}

const DWORD streamChunkSize = 1024 * 1024;

}  // namespace

DatabaseRecord::DatabaseRecord(UINT fieldCount) : handle(lib().MsiCreateRecord(fieldCount)) {
    if (handle == 0) {
        BM_THROW(Error(tstrings::MessageBuilder() << "MsiCreateRecord(" << fieldCount << ") failed",
                       ERROR_FUNCTION_FAILED));
    }
}

DatabaseRecord::~DatabaseRecord() {
    try {
        closeMSIHANDLE(handle);
    }
    BM_GUARD_CATCH
}

DatabaseRecord::DatabaseRecord(DatabaseRecord&& other) noexcept : handle(other.handle) {
    other.handle = 0;
}

DatabaseRecord& DatabaseRecord::operator=(DatabaseRecord&& other) noexcept {
    // Moving a record into itself must keep its handle open.
    if (this != &other) {
        const MSIHANDLE old = handle;
        handle = other.handle;
        other.handle = 0;
        try {
            closeMSIHANDLE(old);
        }
        BM_GUARD_CATCH
    }
    return *this;
}

DatabaseRecord DatabaseRecord::adopt(MSIHANDLE h) noexcept {
    DatabaseRecord record;
    record.handle = h;
    return record;
}

DatabaseRecord& DatabaseRecord::setString(UINT field, const tstring& value) {
    const UINT status = lib().MsiRecordSetStringW(handle, field, value.c_str());
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder()
                           << "MsiRecordSetString(" << field << ", " << value << ") failed",
                       status));
    }
    return *this;
}

DatabaseRecord& DatabaseRecord::setInteger(UINT field, int value) {
    const UINT status = lib().MsiRecordSetInteger(handle, field, value);
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder()
                           << "MsiRecordSetInteger(" << field << ", " << value << ") failed",
                       status));
    }
    return *this;
}

DatabaseRecord& DatabaseRecord::setStreamFromFile(UINT field, const tstring& path) {
    const UINT status = lib().MsiRecordSetStreamW(handle, field, path.c_str());
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder()
                           << "MsiRecordSetStream(" << field << ", " << path << ") failed",
                       status));
    }
    return *this;
}

UINT DatabaseRecord::getFieldCount() const {
    // An invalid handle comes back as -1.
    const int count = static_cast<int>(lib().MsiRecordGetFieldCount(handle));
    if (count <= 0) {
        BM_THROW(Error("MsiRecordGetFieldCount() failed", ERROR_FUNCTION_FAILED));
    }
    return static_cast<UINT>(count);
}

int DatabaseRecord::getInteger(UINT field) const {
    const int value = lib().MsiRecordGetInteger(handle, field);
    if (value == static_cast<int>(MSI_NULL_INTEGER)) {
        BM_THROW(Error(tstrings::MessageBuilder() << "MsiRecordGetInteger(" << field << ") failed",
                       ERROR_FUNCTION_FAILED));
    }
    return value;
}

tstring DatabaseRecord::getString(UINT field) const {
    return readString(lib().MsiRecordGetStringW, "MsiRecordGetString", handle, field);
}

void DatabaseRecord::saveStreamToFile(UINT field, const tstring& path) const {
    saveStreamToFile(field, path, lib().MsiRecordReadStream);
}

void DatabaseRecord::saveStreamToFile(UINT field, const tstring& path, StreamReader reader) const {
    FileUtils::StagedFileWriter writer(path);
    std::vector<char> buffer(streamChunkSize);
    DWORD size;
    do {
        size = streamChunkSize;
        const UINT status = reader(handle, field, buffer.data(), &size);
        if (status != ERROR_SUCCESS) {
            BM_THROW(Error("MsiRecordReadStream() failed", status));
        }
        writer.write(buffer.data(), size);
    } while (size == streamChunkSize);
    writer.finalize();
}

Database::Database(const Guid& productCode)
    : path(getProductInfo(productCode, L"LocalPackage")), handle(openDatabase(path)) {}

Database::Database(const tstring& path) : path(path), handle(openDatabase(path)) {}

Database::~Database() {
    try {
        closeMSIHANDLE(handle);
    }
    BM_GUARD_CATCH
}

tstring Database::getProperty(const tstring& name) const {
    const tstring query = L"SELECT Value FROM Property WHERE Property = '" + name + L"'";
    DatabaseView view(*this, query);
    const DatabaseRecord record = view.fetch();
    if (record.getFieldCount() != 1) {
        BM_THROW(Error(tstrings::MessageBuilder() << "record.getFieldCount(" << path << ", "
                                                  << query << ") returned unexpected value",
                       0));
    }
    return record.getString(1);
}

tstring Database::getProperty(const std::nothrow_t&, const tstring& name) const {
    try {
        return getProperty(name);
    } catch (const NoMoreItemsError&) {
    }
    BM_GUARD_CATCH
    return tstring();
}

DatabaseView::DatabaseView(const Database& db, const tstring& query, const DatabaseRecord& params)
    : query(query), database(db), handle(0) {
    MSIHANDLE view = 0;
    UINT status = lib().MsiDatabaseOpenViewW(database.getHandle(), query.c_str(), &view);
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder() << "MsiDatabaseOpenView(" << query << ") failed",
                       status));
    }
    status = lib().MsiViewExecute(view, params.getHandle());
    if (status != ERROR_SUCCESS) {
        // The destructor does not run for a view that never got built.
        closeMSIHANDLE(view);
        BM_THROW(
            Error(tstrings::MessageBuilder() << "MsiViewExecute(" << query << ") failed", status));
    }
    handle = view;
}

DatabaseView::~DatabaseView() {
    try {
        closeMSIHANDLE(handle);
    }
    BM_GUARD_CATCH
}

DatabaseRecord DatabaseView::tryFetch() {
    MSIHANDLE h = 0;
    const UINT status = lib().MsiViewFetch(handle, &h);
    if (status == ERROR_SUCCESS) {
        return DatabaseRecord::adopt(h);
    }
    if (status == ERROR_NO_MORE_ITEMS) {
        return DatabaseRecord();
    }
    BM_THROW(Error(tstrings::MessageBuilder() << "MsiViewFetch(" << query << ") failed", status));
}

DatabaseRecord DatabaseView::fetch() {
    DatabaseRecord record = tryFetch();
    if (record.empty()) {
        BM_THROW(NoMoreItemsError(tstrings::MessageBuilder()
                                  << "No more items in [" << query << "] query"));
    }
    return record;
}

void DatabaseView::modify(const DatabaseRecord& record, MSIMODIFY mode) {
    const UINT status = lib().MsiViewModify(handle, mode, record.getHandle());
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder()
                           << "MsiViewModify(mode=" << static_cast<int>(mode) << ") failed",
                       status));
    }
}

void closeDatabaseView(MSIHANDLE h) {
    if (h == 0) {
        return;
    }
    const UINT status = lib().MsiViewClose(h);
    if (status == ERROR_SUCCESS) {
        closeMSIHANDLE(h);
        return;
    }
    LOG_WARNING("MsiViewClose(" << h << ") failed with error=" << status);
}

}  // namespace msi
