#include "TableCatalogue.h"

#include "ByteView.h"
#include "InstallerTables.h"

namespace image {

namespace {

// Column type bits: the low byte is the width; the kind is in 0x0C00.
constexpr unsigned kWidthMask = 0x00FF;
constexpr unsigned kKindMask = 0x0C00;
constexpr unsigned kLong = 0x0000;
constexpr unsigned kShort = 0x0400;
constexpr unsigned kObject = 0x0800;
constexpr unsigned kString = 0x0C00;
constexpr unsigned kLocalizable = 0x0200;
constexpr unsigned kNullable = 0x1000;
constexpr unsigned kPersistent = 0x0100;
// Integers are stored with their sign bit flipped.
constexpr unsigned kIntegerBias = 0x8000;
// A stream name holds at most 31 units, each for at most two characters.
constexpr std::size_t kLongestStreamName = 62;

std::string num(std::uint64_t value) {
    return std::to_string(value);
}

[[noreturn]] void fail(const std::string& message) {
    throw InstallerTables::DatabaseError(message);
}

// The number of rows of a stream stored column by column.
std::uint64_t wholeRows(const std::vector<std::uint8_t>& bytes, std::uint64_t rowSize,
                        const std::string& what) {
    if (rowSize == 0 || bytes.size() % rowSize != 0) {
        fail(what + " is " + num(bytes.size()) + " bytes, not a whole number of its " +
             num(rowSize) + "-byte rows");
    }
    return bytes.size() / rowSize;
}

}  // namespace

TableCatalogue::TableCatalogue(const StreamSource& streams)
    : streams(streams), pool([&] {
          for (const char* system : {"_StringPool", "_StringData", "_Tables", "_Columns"}) {
              std::uint64_t bytes = 0;
              if (!streams.size(InstallerTables::encodeName(system, true), bytes)) {
                  fail(std::string("it has no ") + system + " stream");
              }
          }
          return StringPool(streams);
      }()) {
    readTables();
    readColumns();
    checkTableStreams();
}

// A string reference that must name something.
std::uint32_t TableCatalogue::name(const std::uint8_t* p, const std::string& where) const {
    const std::uint32_t id = pool.ref(p);
    if (id == 0) {
        fail(where + " is empty");
    }
    if (id >= pool.count()) {
        fail(where + " refers to string " + num(id) + ", outside the string pool's " +
             num(pool.count() - 1) + " strings");
    }
    if (pool.hasNul(id)) {
        fail(where + " " + pool.shown(id) + " holds a NUL, where some installer libraries end it");
    }
    return id;
}

// The bytes a cell of this type takes in a row, or 0 for a type the format
// does not define.
unsigned TableCatalogue::width(unsigned type) const {
    const unsigned size = type & kWidthMask;
    switch (type & kKindMask) {
        case kString:
            return pool.refWidth();
        case kObject:
            // A stream column holds a reference of its own width.
            return (type & ~kNullable) == (kObject | kPersistent) ? 2 : 0;
        case kShort:
            return size == 2 && (type & kLocalizable) == 0 ? 2 : 0;
        case kLong:
            return size == 4 && (type & kLocalizable) == 0 ? 4 : 0;
    }
    return 0;
}

// Each table once, by its text: two rows of one name would have each reader
// pick its own, and the check read the same stream once a row.
void TableCatalogue::readTables() {
    const std::vector<std::uint8_t> bytes =
        streams.read(InstallerTables::encodeName("_Tables", true));
    const std::uint64_t count = wholeRows(bytes, pool.refWidth(), "the _Tables stream");
    tables.reserve(count);
    for (std::uint64_t r = 0; r < count; ++r) {
        const std::string where = "the _Tables row " + num(r + 1);
        const std::uint32_t id = name(bytes.data() + r * pool.refWidth(), where);
        if (!tableByText.emplace(pool.bytes(id), tables.size()).second) {
            fail(where + " lists table " + pool.shown(id) + " a second time");
        }
        tableById.emplace(id, tables.size());
        tables.push_back({id, r + 1, {}, {}, {}});
    }
}

void TableCatalogue::readColumns() {
    const std::vector<std::uint8_t> bytes =
        streams.read(InstallerTables::encodeName("_Columns", true));
    const unsigned ref = pool.refWidth();
    const std::uint64_t count = wholeRows(bytes, 2 * ref + 4, "the _Columns stream");
    const std::uint8_t* tableColumn = bytes.data();
    const std::uint8_t* numberColumn = tableColumn + count * ref;
    const std::uint8_t* nameColumn = numberColumn + count * 2;
    const std::uint8_t* typeColumn = nameColumn + count * ref;
    std::vector<std::size_t> owner(count);
    std::vector<std::uint64_t> columns(tables.size(), 0);
    for (std::uint64_t r = 0; r < count; ++r) {
        const std::string where = "the _Columns row " + num(r + 1);
        const std::uint32_t id = name(tableColumn + r * ref, where + "'s table");
        const auto found = tableById.find(id);
        if (found == tableById.end()) {
            // Readers that look a table's columns up by the id of its name
            // would miss a row that names it by another copy of the text.
            fail(where + " names table " + pool.shown(id) +
                 (tableByText.count(pool.bytes(id)) != 0
                      ? " by a second copy of its name in the string pool"
                      : ", which _Tables does not list"));
        }
        owner[r] = found->second;
        ++columns[found->second];
    }
    for (Table& table : tables) {
        const std::uint64_t n = columns[&table - tables.data()];
        if (n == 0) {
            fail("table " + pool.shown(table.name) + " of the _Tables row " + num(table.row) +
                 " has no columns in _Columns");
        }
        table.types.assign(n, 0);
        table.names.assign(n, 0);
        table.seen.assign(n, false);
    }
    for (std::uint64_t r = 0; r < count; ++r) {
        Table& table = tables[owner[r]];
        const std::string where =
            "the _Columns row " + num(r + 1) + " gives table " + pool.shown(table.name);
        const std::uint16_t stored = ByteView::le16(numberColumn + 2 * r);
        if (stored <= kIntegerBias) {
            fail(where + " no column number (stored as " + hex(stored) + ")");
        }
        const std::uint64_t number = stored - kIntegerBias;
        if (number > table.types.size()) {
            fail(where + " column number " + num(number) + ", but it has " +
                 num(table.types.size()) + " columns");
        }
        if (table.seen[number - 1]) {
            fail(where + " column number " + num(number) + " twice");
        }
        table.seen[number - 1] = true;
        table.names[number - 1] = name(nameColumn + r * ref, where + " a column name that");
        const std::uint16_t type = ByteView::le16(typeColumn + 2 * r);
        if (type < kIntegerBias || width(type - kIntegerBias) == 0) {
            fail(where + " column " + num(number) + " the type " + hex(type) +
                 " (as stored), which the installer format does not define");
        }
        table.types[number - 1] = static_cast<std::uint16_t>(type - kIntegerBias);
    }
}

std::uint64_t TableCatalogue::rowSize(const Table& table) const {
    std::uint64_t size = 0;
    for (std::uint16_t type : table.types) {
        size += width(type);
    }
    return size;
}

void TableCatalogue::checkTableStreams() const {
    for (const Table& table : tables) {
        if (pool.bytes(table.name).size() > kLongestStreamName) {
            continue;  // no stream can have its name
        }
        const std::u16string stream =
            InstallerTables::encodeName(std::string(pool.bytes(table.name)), true);
        std::uint64_t size = 0;
        if (!streams.size(stream, size)) {
            continue;  // a table without rows
        }
        const std::vector<std::uint8_t> bytes = streams.read(stream);
        const std::string what = "the stream of table " + pool.shown(table.name);
        const std::uint64_t count = wholeRows(bytes, rowSize(table), what);
        std::uint64_t at = 0;
        for (std::size_t c = 0; c < table.types.size(); ++c) {
            const unsigned cell = width(table.types[c]);
            if ((table.types[c] & kKindMask) == kString) {
                for (std::uint64_t r = 0; r < count; ++r) {
                    const std::uint32_t id = pool.ref(bytes.data() + at + r * cell);
                    if (id >= pool.count()) {
                        fail(what + " refers in row " + num(r + 1) + ", column " + num(c + 1) +
                             " to string " + num(id) + ", outside the string pool's " +
                             num(pool.count() - 1) + " strings");
                    }
                }
            }
            at += count * cell;
        }
    }
}

TableCatalogue::Rows TableCatalogue::rows(const std::string& table) const {
    Rows result;
    result.pool = &pool;
    result.name = table;
    const auto found = tableByText.find(table);
    if (found == tableByText.end()) {
        return result;
    }
    const Table& t = tables[found->second];
    std::uint64_t offset = 0;
    result.bytes = table.size() <= kLongestStreamName
                       ? streams.read(InstallerTables::encodeName(table, true))
                       : std::vector<std::uint8_t>();
    result.rowCount = result.bytes.size() / rowSize(t);
    for (std::size_t c = 0; c < t.types.size(); ++c) {
        const unsigned cell = width(t.types[c]);
        result.columns.push_back({t.names[c], t.types[c], cell, offset});
        offset += result.rowCount * cell;
    }
    return result;
}

std::size_t TableCatalogue::Rows::column(const char* wanted, Kind kind) const {
    const std::string_view text(wanted);
    std::size_t found = columns.size();
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (pool->bytes(columns[c].name) != text) {
            continue;
        }
        if (found != columns.size()) {
            fail("the " + name + " table has two columns named " + wanted);
        }
        found = c;
    }
    if (found == columns.size()) {
        fail("the " + name + " table has no " + wanted + " column");
    }
    const unsigned type = columns[found].type;
    const Kind is = (type & kKindMask) == kString   ? Kind::String
                    : (type & kKindMask) == kObject ? Kind::Stream
                                                    : Kind::Integer;
    if (is != kind) {
        static const char* const kinds[] = {"an integer", "a string", "a stream"};
        fail("the " + name + " table's " + wanted + " column holds " + kinds[static_cast<int>(is)] +
             ", where the installer format gives it " + kinds[static_cast<int>(kind)]);
    }
    return found;
}

std::uint32_t TableCatalogue::Rows::string(std::uint64_t row, std::size_t column) const {
    const Column& c = columns[column];
    return pool->ref(bytes.data() + c.offset + row * c.width);
}

bool TableCatalogue::Rows::integer(std::uint64_t row, std::size_t column,
                                   std::int64_t& value) const {
    const Column& c = columns[column];
    const std::uint8_t* p = bytes.data() + c.offset + row * c.width;
    if (c.width == 2) {
        const std::uint16_t stored = ByteView::le16(p);
        value = std::int64_t{stored} - kIntegerBias;
        return stored != 0;
    }
    const std::uint32_t stored = ByteView::le32(p);
    value = static_cast<std::int32_t>(stored ^ 0x80000000u);
    return stored != 0;
}

}  // namespace image
