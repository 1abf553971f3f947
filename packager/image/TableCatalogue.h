#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "StreamSource.h"
#include "StringPool.h"

namespace image {

// An installer database's catalogue (_Tables, _Columns) checked against its
// string pool and its tables' streams, and the rows of the tables read from
// it: one reading gives both the check and the facts. Every table is listed
// once by its text, every column has a type the format defines, every
// table's stream holds whole rows whose strings lie inside the pool. Raises
// InstallerTables::DatabaseError.
class TableCatalogue {
public:
    explicit TableCatalogue(const StreamSource& streams);

    const StringPool& strings() const { return pool; }

    enum class Kind { Integer, String, Stream };

    // A table's rows as its stream holds them: column by column.
    class Rows {
    public:
        // Whether _Tables lists the table.
        bool listed() const { return !columns.empty(); }
        std::uint64_t count() const { return rowCount; }
        // The column of that name, which must be of `kind`; refused when
        // the table has none or two of that name.
        std::size_t column(const char* name, Kind kind) const;
        // A string cell: 0 for null.
        std::uint32_t string(std::uint64_t row, std::size_t column) const;
        // An integer cell; false for null.
        bool integer(std::uint64_t row, std::size_t column, std::int64_t& value) const;
        const std::string& table() const { return name; }

    private:
        friend class TableCatalogue;
        const StringPool* pool = nullptr;
        std::string name;
        std::vector<std::uint8_t> bytes;
        std::uint64_t rowCount = 0;
        struct Column {
            std::uint32_t name;
            std::uint16_t type;
            unsigned width;
            std::uint64_t offset;
        };
        std::vector<Column> columns;
    };

    // The rows of a table; none when _Tables does not list it or it has no
    // stream (as the installer libraries read it).
    Rows rows(const std::string& table) const;

private:
    struct Table {
        std::uint32_t name;
        std::uint64_t row;  // in _Tables, from 1
        std::vector<std::uint16_t> types;
        std::vector<std::uint32_t> names;
        std::vector<bool> seen;
    };

    const StreamSource& streams;
    StringPool pool;
    std::vector<Table> tables;
    std::unordered_map<std::uint32_t, std::size_t> tableById;
    std::unordered_map<std::string_view, std::size_t> tableByText;

    std::uint32_t name(const std::uint8_t* p, const std::string& where) const;
    unsigned width(unsigned type) const;
    void readTables();
    void readColumns();
    void checkTableStreams() const;
    std::uint64_t rowSize(const Table& table) const;
};

}  // namespace image
