#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <new>

#include "Guid.h"
#include "MsiLib.h"
#include "UniqueHandle.h"
#include "tstrings.h"

namespace msi {

class CAImpl;

// Owns one installer record handle; 0 is an empty record. Move-only.
// Field 0 is the record's format template, data fields start at 1.
class DatabaseRecord {
public:
    // The shape of MsiRecordReadStream: a record, a field, a byte buffer and
    // its size in, the count of bytes read out.
    typedef decltype(::MsiRecordReadStream)* StreamReader;

    DatabaseRecord() noexcept = default;
    explicit DatabaseRecord(UINT fieldCount);

    // Takes over a handle the installer handed out.
    static DatabaseRecord adopt(MSIHANDLE h) noexcept;

    DatabaseRecord& setString(UINT field, const tstring& value);
    DatabaseRecord& setInteger(UINT field, int value);
    DatabaseRecord& setStreamFromFile(UINT field, const tstring& path);

    UINT getFieldCount() const;
    // A null field raises: there is no value that could stand for "nothing".
    int getInteger(UINT field) const;
    tstring getString(UINT field) const;

    // Copies a stream field into a file, 1 MiB at a time. The file is
    // replaced whole or, on any failure, left as it was.
    void saveStreamToFile(UINT field, const tstring& path) const;
    // The same with the reads going through `reader`, so they can be watched.
    void saveStreamToFile(UINT field, const tstring& path, StreamReader reader) const;

    MSIHANDLE getHandle() const noexcept { return handle.get(); }
    bool empty() const noexcept { return !handle; }

private:
    UniqueMsiHandle handle;
};

// An installer database, always open read-only. Neither copyable nor
// movable: views refer to the database they were opened on.
class Database {
public:
    // The cached package of an installed product.
    explicit Database(const Guid& productCode);
    explicit Database(const tstring& path);
    // The database of the installation a custom action runs in.
    explicit Database(const CAImpl& ca);

    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // A value from the Property table. A missing property raises
    // msi::NoMoreItemsError.
    tstring getProperty(const tstring& name) const;
    // Empty when the value cannot be read. A missing property is not worth a
    // log record; any other failure is logged.
    tstring getProperty(const std::nothrow_t&, const tstring& name) const;

    const tstring& getPath() const noexcept { return path; }
    MSIHANDLE getHandle() const noexcept { return handle.get(); }

private:
    tstring path;
    UniqueMsiHandle handle;
};

// An executed query on a database that must outlive the view.
class DatabaseView {
public:
    // `params` fills the query's '?' markers; an empty record for none.
    DatabaseView(const Database& db, const tstring& query,
                 const DatabaseRecord& params = DatabaseRecord());

    DatabaseView(const DatabaseView&) = delete;
    DatabaseView& operator=(const DatabaseView&) = delete;

    // The next row; raises msi::NoMoreItemsError after the last one.
    DatabaseRecord fetch();
    // The next row, or an empty record after the last one.
    DatabaseRecord tryFetch();

    void modify(const DatabaseRecord& record, MSIMODIFY mode);

    const tstring& getQuery() const noexcept { return query; }

private:
    tstring query;
    const Database& database;
    UniqueMsiHandle handle;
};

// Closes a view and releases its handle. When the view cannot be closed the
// handle is kept as it is and a warning is logged.
void closeDatabaseView(MSIHANDLE h);

}  // namespace msi
