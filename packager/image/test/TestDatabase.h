#pragma once

// Installer databases made in code, as the streams a compound file would
// hold: the tests of the tables' reading start from these and damage them.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ByteView.h"
#include "InstallerTables.h"
#include "StreamSource.h"

namespace testdb {

typedef std::vector<std::uint8_t> Bytes;

// Streams by name: tables' under their decoded names, the others (the
// Summary Information, a cabinet, an icon) under their stored ones.
struct Database : image::StreamSource {
    std::map<std::string, Bytes> streams;
    std::map<std::u16string, Bytes> others;

    bool size(const std::u16string& name, std::uint64_t& bytes) const override {
        const Bytes* found = find(name);
        bytes = found ? found->size() : 0;
        return found != nullptr;
    }
    Bytes read(const std::u16string& name) const override {
        const Bytes* found = find(name);
        return found ? *found : Bytes();
    }
    const Bytes* find(const std::u16string& name) const {
        for (const auto& s : streams) {
            if (image::InstallerTables::encodeName(s.first, true) == name) {
                return &s.second;
            }
        }
        const auto other = others.find(name);
        return other != others.end() ? &other->second : nullptr;
    }
    void put16(const std::string& stream, std::size_t at, std::uint16_t value) {
        streams[stream][at] = value & 0xFF;
        streams[stream][at + 1] = value >> 8;
    }
};

// Column types as the catalogue stores them, less the bias of 0x8000.
enum Type : std::uint16_t {
    kString = 0x0D48,          // s72
    kNullableString = 0x1D48,  // S72
    kShort = 0x0502,           // i2
    kNullableShort = 0x1502,
    kLong = 0x0104,  // i4
    kNullableLong = 0x1104,
    kStream = 0x1900,  // V0
};

// A cell: text, a number, or null. `fresh` text is stored again in the
// pool even when it holds it.
struct Cell {
    enum { Null, Number, Text } kind = Null;
    std::int64_t number = 0;
    std::string text;
    bool fresh = false;
    Cell() = default;
    Cell(int n) : kind(Number), number(n) {}
    Cell(const char* t) : kind(Text), text(t) {}
    Cell(std::string t) : kind(Text), text(std::move(t)) {}
};

inline Cell copyOf(const std::string& text) {
    Cell c(text);
    c.fresh = true;
    return c;
}

struct Column {
    std::string name;
    std::uint16_t type;
};

// Strings, tables and their rows, written as the format stores them.
class Builder {
public:
    std::uint16_t codePage = 0;

    // The id of a string, added once.
    std::uint32_t id(const std::string& text) {
        for (std::size_t i = 0; i < strings.size(); ++i) {
            if (strings[i] == text) {
                return static_cast<std::uint32_t>(i + 1);
            }
        }
        return copy(text);
    }
    // A string added again even when the pool holds it.
    std::uint32_t copy(const std::string& text) {
        strings.push_back(text);
        return static_cast<std::uint32_t>(strings.size());
    }

    void table(const std::string& name, const std::vector<Column>& columns,
               const std::vector<std::vector<Cell>>& rows) {
        tables.push_back({name, columns, rows});
    }

    Database build() {
        Database d;
        Bytes tableNames, columns[4];
        std::uint16_t columnRows = 0;
        for (auto& t : tables) {
            add16(tableNames, id(t.name));
            for (std::size_t c = 0; c < t.columns.size(); ++c, ++columnRows) {
                add16(columns[0], id(t.name));
                add16(columns[1], static_cast<std::uint16_t>(0x8001 + c));
                add16(columns[2], id(t.columns[c].name));
                add16(columns[3], static_cast<std::uint16_t>(0x8000 + t.columns[c].type));
            }
            if (t.rows.empty()) {
                continue;
            }
            Bytes& body = d.streams[t.name];
            for (std::size_t c = 0; c < t.columns.size(); ++c) {
                for (const auto& row : t.rows) {
                    cell(body, t.columns[c].type, row[c]);
                }
            }
        }
        d.streams["_Tables"] = tableNames;
        d.streams["_Columns"] = columns[0];
        for (int i = 1; i < 4; ++i) {
            d.streams["_Columns"].insert(d.streams["_Columns"].end(), columns[i].begin(),
                                         columns[i].end());
        }
        Bytes& pool = d.streams["_StringPool"];
        Bytes& data = d.streams["_StringData"];
        add16(pool, codePage);
        add16(pool, 0);
        for (const auto& s : strings) {
            add16(pool, static_cast<std::uint16_t>(s.size()));
            add16(pool, 1);
            data.insert(data.end(), s.begin(), s.end());
        }
        return d;
    }

private:
    struct Table {
        std::string name;
        std::vector<Column> columns;
        std::vector<std::vector<Cell>> rows;
    };
    std::vector<std::string> strings;
    std::vector<Table> tables;

    static void add16(Bytes& b, std::uint32_t v) {
        b.push_back(v & 0xFF);
        b.push_back((v >> 8) & 0xFF);
    }

    void cell(Bytes& b, std::uint16_t type, const Cell& c) {
        if ((type & 0x0C00) == 0x0C00) {
            add16(b, c.kind != Cell::Text ? 0 : c.fresh ? copy(c.text) : id(c.text));
        } else if ((type & 0x0C00) == 0x0800) {
            add16(b, c.kind == Cell::Null ? 0 : 1);
        } else if ((type & 0xFF) == 2) {
            add16(b, c.kind == Cell::Null ? 0 : static_cast<std::uint16_t>(c.number + 0x8000));
        } else {
            const std::uint32_t v =
                c.kind == Cell::Null ? 0 : static_cast<std::uint32_t>(c.number) ^ 0x80000000u;
            add16(b, v & 0xFFFF);
            add16(b, v >> 16);
        }
    }
};

// A Summary Information stream of (id, type, value bytes) properties.
inline Bytes summary(
    const std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, Bytes>>>& properties) {
    Bytes s(48, 0);
    image::putLe16(&s[0], 0xFFFE);
    image::putLe32(&s[24], 1);
    const std::uint8_t format[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                     0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    std::copy(format, format + 16, s.begin() + 28);
    image::putLe32(&s[44], 48);
    Bytes section(8 + 8 * properties.size(), 0);
    for (std::size_t i = 0; i < properties.size(); ++i) {
        image::putLe32(&section[8 + 8 * i], properties[i].first);
        image::putLe32(&section[12 + 8 * i], static_cast<std::uint32_t>(section.size()));
        Bytes value(4 + properties[i].second.second.size(), 0);
        image::putLe32(&value[0], properties[i].second.first);
        std::copy(properties[i].second.second.begin(), properties[i].second.second.end(),
                  value.begin() + 4);
        value.resize((value.size() + 3) / 4 * 4, 0);
        section.insert(section.end(), value.begin(), value.end());
    }
    image::putLe32(&section[0], static_cast<std::uint32_t>(section.size()));
    image::putLe32(&section[4], static_cast<std::uint32_t>(properties.size()));
    s.insert(s.end(), section.begin(), section.end());
    return s;
}

// Value bytes of the summary's types.
inline Bytes i4(std::int32_t v) {
    Bytes b(4);
    image::putLe32(b.data(), static_cast<std::uint32_t>(v));
    return b;
}
inline Bytes lpstr(const std::string& text) {
    Bytes b(4);
    image::putLe32(b.data(), static_cast<std::uint32_t>(text.size() + 1));
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
    return b;
}

}  // namespace testdb
