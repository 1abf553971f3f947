#include "InstallerTables.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "ByteView.h"

namespace image {
namespace InstallerTables {

namespace {

const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
constexpr char16_t kTableMark = 0x4840;
constexpr char16_t kPairBase = 0x3800;
constexpr char16_t kSingleBase = 0x4800;

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

int indexOf(char c) {
    for (int i = 0; i < 64; ++i) {
        if (kAlphabet[i] == c) {
            return i;
        }
    }
    return -1;
}

std::string num(std::uint64_t value) {
    return std::to_string(value);
}

// A table's name for the words of an error: printable ASCII, the rest '?'.
std::string shown(const std::string& name) {
    std::string text;
    for (char c : name.substr(0, 64)) {
        text.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return "'" + text + (name.size() > 64 ? "...'" : "'");
}

[[noreturn]] void fail(const std::string& message) {
    throw DatabaseError(message);
}

struct Table {
    std::uint32_t name;
    std::uint64_t row;  // in _Tables, from 1
    std::vector<std::uint16_t> types;
    std::vector<bool> seen;
};

class Reader {
public:
    explicit Reader(const StreamSource& streams) : streams(streams) {}

    void run() {
        for (const char* name : {"_StringPool", "_StringData", "_Tables", "_Columns"}) {
            std::uint64_t bytes = 0;
            if (!streams.size(encodeName(name, true), bytes)) {
                fail(std::string("it has no ") + name + " stream");
            }
        }
        readPool();
        readTables();
        readColumns();
        checkTableStreams();
    }

private:
    const StreamSource& streams;
    std::vector<std::uint8_t> stringData;
    // (offset, length) in _StringData by string id; id 0 is the null string.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> strings;
    unsigned refWidth = 2;
    std::vector<Table> tables;
    std::unordered_map<std::uint32_t, std::size_t> tableByName;

    void readPool() {
        const std::vector<std::uint8_t> pool = streams.read(encodeName("_StringPool", true));
        stringData = streams.read(encodeName("_StringData", true));
        if (pool.size() % 4 != 0) {
            fail("the _StringPool stream is " + num(pool.size()) +
                 " bytes, not a whole number of 4-byte entries");
        }
        const std::uint64_t count = pool.size() / 4;
        // The first entry holds the code page; its top bit widens references.
        if (count > 0 && (ByteView::le16(pool.data() + 2) & 0x8000) != 0) {
            refWidth = 3;
        }
        strings.reserve(count);
        strings.emplace_back(0, 0);
        std::uint64_t offset = 0;
        for (std::uint64_t i = 1; i < count;) {
            const std::uint8_t* entry = pool.data() + 4 * i;
            std::uint64_t length = ByteView::le16(entry);
            const std::uint16_t references = ByteView::le16(entry + 2);
            if (length == 0 && references != 0) {
                // A string of 64 KiB or more: its length is the next entry.
                if (i + 1 >= count) {
                    fail("_StringPool entry " + num(i) +
                         " announces a long string but the pool ends there");
                }
                length = ByteView::le32(entry + 4);
                i += 2;
            } else {
                i += 1;
            }
            if (length > stringData.size() - offset) {
                fail("string " + num(strings.size()) + " of the string pool runs to byte " +
                     num(offset + length) + ", past the " + num(stringData.size()) +
                     " bytes of _StringData");
            }
            strings.emplace_back(offset, length);
            offset += length;
        }
    }

    std::string text(std::uint32_t id) const {
        return std::string(reinterpret_cast<const char*>(stringData.data()) + strings[id].first,
                           strings[id].second);
    }

    std::uint32_t ref(const std::uint8_t* p) const {
        return refWidth == 2 ? ByteView::le16(p) : ByteView::le16(p) | std::uint32_t{p[2]} << 16;
    }

    // A string reference that must name something.
    std::uint32_t name(const std::uint8_t* p, const std::string& where) const {
        const std::uint32_t id = ref(p);
        if (id == 0) {
            fail(where + " is empty");
        }
        if (id >= strings.size()) {
            fail(where + " refers to string " + num(id) + ", outside the string pool's " +
                 num(strings.size() - 1) + " strings");
        }
        return id;
    }

    // The number of rows of a stream stored column by column.
    static std::uint64_t rows(const std::vector<std::uint8_t>& bytes, std::uint64_t rowSize,
                              const std::string& what) {
        if (bytes.size() % rowSize != 0) {
            fail(what + " is " + num(bytes.size()) + " bytes, not a whole number of its " +
                 num(rowSize) + "-byte rows");
        }
        return bytes.size() / rowSize;
    }

    void readTables() {
        const std::vector<std::uint8_t> bytes = streams.read(encodeName("_Tables", true));
        const std::uint64_t count = rows(bytes, refWidth, "the _Tables stream");
        tables.reserve(count);
        for (std::uint64_t r = 0; r < count; ++r) {
            const std::string where = "the _Tables row " + num(r + 1);
            const std::uint32_t id = name(bytes.data() + r * refWidth, where);
            if (!tableByName.emplace(id, tables.size()).second) {
                fail(where + " lists table " + shown(text(id)) + " a second time");
            }
            tables.push_back({id, r + 1, {}, {}});
        }
    }

    // The bytes a cell of this type takes in a row, or 0 for a type the
    // format does not define.
    unsigned width(unsigned type) const {
        const unsigned size = type & kWidthMask;
        switch (type & kKindMask) {
            case kString:
                return refWidth;
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

    void readColumns() {
        const std::vector<std::uint8_t> bytes = streams.read(encodeName("_Columns", true));
        const std::uint64_t count = rows(bytes, 2 * refWidth + 4, "the _Columns stream");
        const std::uint8_t* tableColumn = bytes.data();
        const std::uint8_t* numberColumn = tableColumn + count * refWidth;
        const std::uint8_t* nameColumn = numberColumn + count * 2;
        const std::uint8_t* typeColumn = nameColumn + count * refWidth;
        std::vector<std::size_t> owner(count);
        std::vector<std::uint64_t> columns(tables.size(), 0);
        for (std::uint64_t r = 0; r < count; ++r) {
            const std::string where = "the _Columns row " + num(r + 1);
            const std::uint32_t id = name(tableColumn + r * refWidth, where + "'s table");
            const auto found = tableByName.find(id);
            if (found == tableByName.end()) {
                fail(where + " names table " + shown(text(id)) + ", which _Tables does not list");
            }
            owner[r] = found->second;
            ++columns[found->second];
        }
        for (std::size_t t = 0; t < tables.size(); ++t) {
            if (columns[t] == 0) {
                fail("table " + shown(text(tables[t].name)) + " of the _Tables row " +
                     num(tables[t].row) + " has no columns in _Columns");
            }
            tables[t].types.assign(columns[t], 0);
            tables[t].seen.assign(columns[t], false);
        }
        for (std::uint64_t r = 0; r < count; ++r) {
            Table& table = tables[owner[r]];
            const std::string where =
                "the _Columns row " + num(r + 1) + " gives table " + shown(text(table.name));
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
            name(nameColumn + r * refWidth, where + " a column name that");
            const std::uint16_t type = ByteView::le16(typeColumn + 2 * r);
            if (type < kIntegerBias || width(type - kIntegerBias) == 0) {
                fail(where + " column " + num(number) + " the type " + hex(type) +
                     " (as stored), which the installer format does not define");
            }
            table.types[number - 1] = static_cast<std::uint16_t>(type - kIntegerBias);
        }
    }

    void checkTableStreams() {
        for (const Table& table : tables) {
            const std::string tableName = text(table.name);
            const std::u16string stream = encodeName(tableName, true);
            std::uint64_t size = 0;
            if (!streams.size(stream, size)) {
                continue;  // a table without rows
            }
            std::uint64_t rowSize = 0;
            for (std::uint16_t type : table.types) {
                rowSize += width(type);
            }
            const std::vector<std::uint8_t> bytes = streams.read(stream);
            const std::string what = "the stream of table " + shown(tableName);
            const std::uint64_t count = rows(bytes, rowSize, what);
            std::uint64_t at = 0;
            for (std::size_t c = 0; c < table.types.size(); ++c) {
                const unsigned cell = width(table.types[c]);
                if ((table.types[c] & kKindMask) == kString) {
                    for (std::uint64_t r = 0; r < count; ++r) {
                        const std::uint32_t id = ref(bytes.data() + at + r * cell);
                        if (id >= strings.size()) {
                            fail(what + " refers in row " + num(r + 1) + ", column " + num(c + 1) +
                                 " to string " + num(id) + ", outside the string pool's " +
                                 num(strings.size() - 1) + " strings");
                        }
                    }
                }
                at += count * cell;
            }
        }
    }
};

}  // namespace

void check(const StreamSource& streams) {
    Reader(streams).run();
}

std::u16string encodeName(const std::string& name, bool table) {
    std::u16string stored;
    if (table) {
        stored.push_back(kTableMark);
    }
    for (std::size_t i = 0; i < name.size();) {
        const int first = indexOf(name[i]);
        const int second = i + 1 < name.size() ? indexOf(name[i + 1]) : -1;
        if (first >= 0 && second >= 0) {
            stored.push_back(static_cast<char16_t>(kPairBase + first + (second << 6)));
            i += 2;
        } else if (first >= 0) {
            stored.push_back(static_cast<char16_t>(kSingleBase + first));
            i += 1;
        } else {
            stored.push_back(static_cast<unsigned char>(name[i]));
            i += 1;
        }
    }
    return stored;
}

std::string decodeName(const std::u16string& stored) {
    std::string name;
    for (char16_t c : stored) {
        if (c >= kPairBase && c < kSingleBase) {
            name.push_back(kAlphabet[(c - kPairBase) & 0x3F]);
            name.push_back(kAlphabet[(c - kPairBase) >> 6]);
        } else if (c >= kSingleBase && c < kTableMark) {
            name.push_back(kAlphabet[c - kSingleBase]);
        } else if (c == kTableMark) {
            name.push_back('!');
        } else {
            name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }
    return name;
}

}  // namespace InstallerTables
}  // namespace image
