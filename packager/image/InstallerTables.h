#pragma once

#include <string>

#include "FormatError.h"
#include "StreamSource.h"

namespace image {

// The tables of an installer database as its streams hold them: the string
// pool (_StringPool, _StringData), the catalogue of tables (_Tables) and of
// their columns (_Columns), and one stream a table holding its rows column by
// column. The installer libraries trust the catalogue when they build their
// queries; a damaged one crashes them.
namespace InstallerTables {

// A compound file sound in itself whose database tables are damaged.
class DatabaseError : public FormatError {
public:
    using FormatError::FormatError;
};

// Checks, in time and memory linear in the streams' sizes, that the system
// streams exist, the string pool adds up to its data in a code page every
// installer library reads alike, every table is listed once by its name,
// every _Columns row names a table of _Tables, each table's column numbers
// run from 1 without gaps or repeats, every column type is one the format
// defines, every string reference lies inside the pool and every table's
// stream holds whole rows (TableCatalogue). Raises DatabaseError with one
// line saying what is wrong where.
void check(const StreamSource& streams);

// Stream names as a database stores them: two characters of [0-9A-Za-z._]
// in one code unit where they can, and a table's stream starts with U+4840.
std::u16string encodeName(const std::string& name, bool table);
// The same for a name in UTF-16 (a stream column's "Table.key" as the
// installer library builds it from the decoded key).
std::u16string encodeName(const std::u16string& name, bool table);
// The other way, with the table mark shown as '!'.
std::string decodeName(const std::u16string& stored);

}  // namespace InstallerTables
}  // namespace image
