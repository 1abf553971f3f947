#include "MsiDb.h"

#include <vector>

#include "ErrorHandling.h"
#include "Log.h"
#include "MsiUtils.h"
#include "StagedFileWriter.h"

namespace msi {

namespace {

UniqueMsiHandle openDatabase(const tstring& path) {
    UniqueMsiHandle h;
    BM_THROW_IF_MSI_ERROR(lib().MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, h.put()),
                          "MsiOpenDatabase(" << path << ", MSIDBOPEN_READONLY) failed");
    return h;
}

const DWORD streamChunkSize = 1024 * 1024;

}  // namespace

DatabaseRecord::DatabaseRecord(UINT fieldCount) : handle(lib().MsiCreateRecord(fieldCount)) {
    if (!handle) {
        BM_THROW(Error(tstrings::MessageBuilder() << "MsiCreateRecord(" << fieldCount << ") failed",
                       ERROR_FUNCTION_FAILED));
    }
}

DatabaseRecord DatabaseRecord::adopt(MSIHANDLE h) noexcept {
    DatabaseRecord record;
    record.handle.reset(h);
    return record;
}

DatabaseRecord& DatabaseRecord::setString(UINT field, const tstring& value) {
    BM_THROW_IF_MSI_ERROR(lib().MsiRecordSetStringW(handle.get(), field, value.c_str()),
                          "MsiRecordSetString(" << field << ", " << value << ") failed");
    return *this;
}

DatabaseRecord& DatabaseRecord::setInteger(UINT field, int value) {
    BM_THROW_IF_MSI_ERROR(lib().MsiRecordSetInteger(handle.get(), field, value),
                          "MsiRecordSetInteger(" << field << ", " << value << ") failed");
    return *this;
}

DatabaseRecord& DatabaseRecord::setStreamFromFile(UINT field, const tstring& path) {
    BM_THROW_IF_MSI_ERROR(lib().MsiRecordSetStreamW(handle.get(), field, path.c_str()),
                          "MsiRecordSetStream(" << field << ", " << path << ") failed");
    return *this;
}

UINT DatabaseRecord::getFieldCount() const {
    // An invalid handle comes back as -1.
    const int count = static_cast<int>(lib().MsiRecordGetFieldCount(handle.get()));
    if (count <= 0) {
        BM_THROW(Error("MsiRecordGetFieldCount() failed", ERROR_FUNCTION_FAILED));
    }
    return static_cast<UINT>(count);
}

int DatabaseRecord::getInteger(UINT field) const {
    const int value = lib().MsiRecordGetInteger(handle.get(), field);
    if (value == static_cast<int>(MSI_NULL_INTEGER)) {
        BM_THROW(Error(tstrings::MessageBuilder() << "MsiRecordGetInteger(" << field << ") failed",
                       ERROR_FUNCTION_FAILED));
    }
    return value;
}

tstring DatabaseRecord::getString(UINT field) const {
    return readString(lib().MsiRecordGetStringW, "MsiRecordGetString", handle.get(), field);
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
        BM_THROW_IF_MSI_ERROR(reader(handle.get(), field, buffer.data(), &size),
                              "MsiRecordReadStream() failed");
        writer.write(buffer.data(), size);
    } while (size == streamChunkSize);
    writer.finalize();
}

Database::Database(const Guid& productCode)
    : path(getProductInfo(productCode, L"LocalPackage")), handle(openDatabase(path)) {}

Database::Database(const tstring& path) : path(path), handle(openDatabase(path)) {}

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
    : query(query), database(db) {
    BM_THROW_IF_MSI_ERROR(
        lib().MsiDatabaseOpenViewW(database.getHandle(), query.c_str(), handle.put()),
        "MsiDatabaseOpenView(" << query << ") failed");
    BM_THROW_IF_MSI_ERROR(lib().MsiViewExecute(handle.get(), params.getHandle()),
                          "MsiViewExecute(" << query << ") failed");
}

DatabaseRecord DatabaseView::tryFetch() {
    MSIHANDLE h = 0;
    const UINT status = lib().MsiViewFetch(handle.get(), &h);
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
    BM_THROW_IF_MSI_ERROR(lib().MsiViewModify(handle.get(), mode, record.getHandle()),
                          "MsiViewModify(mode=" << static_cast<int>(mode) << ") failed");
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
