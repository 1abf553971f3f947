#include "InstallerTables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ErrorOf.h"
#include "TestDatabase.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using image::InstallerTables::encodeName;

using testdb::Database;

// Strings 1 "T", 2 "A", 3 "B"; table T with columns A (i2) and B (s72,
// nullable), two rows. Every stream column by column, 16 bits a value.
Database sample() {
    Database d;
    d.streams["_StringPool"] = {0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
    d.streams["_StringData"] = {'T', 'A', 'B'};
    d.streams["_Tables"] = {1, 0};
    d.streams["_Columns"] = {1, 0, 1, 0, 0x01, 0x80, 0x02, 0x80,
                             2, 0, 3, 0, 0x02, 0x85, 0x48, 0x9D};
    d.streams["T"] = {0x05, 0x80, 0x06, 0x80, 2, 0, 3, 0};
    return d;
}

const struct {
    const char* name;
    std::function<void(Database&)> damage;
    const char* expected;
} kDamageCases[] = {
    {"sound", [](Database&) {}, "<no error>"},
    {"no _Tables", [](Database& d) { d.streams.erase("_Tables"); }, "it has no _Tables stream"},
    {"pool past its data", [](Database& d) { d.streams["_StringData"].pop_back(); },
     "string 3 of the string pool runs to byte 3, past the 2 bytes of _StringData"},
    {"long string at the pool's end", [](Database& d) { d.put16("_StringPool", 12, 0); },
     "_StringPool entry 3 announces a long string but the pool ends there"},
    {"_Columns cut short", [](Database& d) { d.streams["_Columns"].resize(11); },
     "the _Columns stream is 11 bytes, not a whole number of its 8-byte rows"},
    {"table id 0x8000", [](Database& d) { d.put16("_Columns", 0, 0x8000); },
     "the _Columns row 1's table refers to string 32768, outside the string pool's 3 strings"},
    {"column number 0xFFFF", [](Database& d) { d.put16("_Columns", 4, 0xFFFF); },
     "the _Columns row 1 gives table 'T' column number 32767, but it has 2 columns"},
    {"column number twice", [](Database& d) { d.put16("_Columns", 6, 0x8001); },
     "the _Columns row 2 gives table 'T' column number 1 twice"},
    {"column number 0", [](Database& d) { d.put16("_Columns", 6, 0x8000); },
     "the _Columns row 2 gives table 'T' no column number (stored as 0x8000)"},
    {"table _Tables lacks", [](Database& d) { d.put16("_Columns", 2, 2); },
     "the _Columns row 2 names table 'A', which _Tables does not list"},
    {"table without columns",
     [](Database& d) {
         d.streams["_Tables"] = {1, 0, 3, 0};
     },
     "table 'B' of the _Tables row 2 has no columns in _Columns"},
    {"column name outside the pool", [](Database& d) { d.put16("_Columns", 10, 4); },
     "the _Columns row 2 gives table 'T' a column name that refers to string 4"},
    {"integer of width 3", [](Database& d) { d.put16("_Columns", 12, 0x8503); },
     "the _Columns row 1 gives table 'T' column 1 the type 0x8503 (as stored)"},
    {"stream column as a key", [](Database& d) { d.put16("_Columns", 14, 0xA900); },
     "column 2 the type 0xa900 (as stored), which the installer format does not define"},
    {"table listed twice as text",
     [](Database& d) {
         d.streams["_StringPool"].insert(d.streams["_StringPool"].end(), {1, 0, 1, 0});
         d.streams["_StringData"].push_back('T');
         d.streams["_Tables"] = {1, 0, 4, 0};
     },
     "the _Tables row 2 lists table 'T' a second time"},
    {"columns of a second copy of the table's name",
     [](Database& d) {
         d.streams["_StringPool"].insert(d.streams["_StringPool"].end(), {1, 0, 1, 0});
         d.streams["_StringData"].push_back('T');
         d.put16("_Columns", 0, 4);
     },
     "the _Columns row 1 names table 'T' by a second copy of its name in the string pool"},
    {"NUL in a column name", [](Database& d) { d.streams["_StringData"][1] = 0; },
     "a column name that '?' holds a NUL, where some installer libraries end it"},
    {"table stream of part of a row", [](Database& d) { d.streams["T"].pop_back(); },
     "the stream of table 'T' is 7 bytes, not a whole number of its 4-byte rows"},
    {"table cell outside the pool", [](Database& d) { d.put16("T", 6, 9); },
     "the stream of table 'T' refers in row 2, column 2 to string 9"},
};

TEST(InstallerTablesTest, RefusesDamagedCataloguesWithWhatIsWrongWhere) {
    for (const auto& c : kDamageCases) {
        Database d = sample();
        c.damage(d);
        const std::string error = bmtest::errorOf([&] { image::InstallerTables::check(d); });
        EXPECT_NE(error.find(c.expected), std::string::npos)
            << c.name << ": expected \"" << c.expected << "\", got \"" << error << "\"";
    }
}

TEST(InstallerTablesTest, DecodesTheNamesItEncodes) {
    EXPECT_EQ(image::InstallerTables::decodeName(encodeName("_Tables", true)), "!_Tables");
    EXPECT_EQ(encodeName("Icon.a-b", false).size(), 5u);
}

}  // namespace
