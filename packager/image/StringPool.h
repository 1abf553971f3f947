#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "StreamSource.h"

namespace image {

// An installer database's strings (_StringPool, _StringData), which every
// table cell of a string column refers to by number. The pool's code page
// must be one that every installer library decodes the same way, and each
// string's bytes defined in it: otherwise one library reads a string another
// drops or reads otherwise. Raises InstallerTables::DatabaseError.
class StringPool {
public:
    explicit StringPool(const StreamSource& streams);

    // 2 or 3: the bytes of a reference in a table's row.
    unsigned refWidth() const { return width; }
    // Ids run from 1 to count() - 1; 0 is the null string.
    std::uint32_t count() const { return static_cast<std::uint32_t>(strings.size()); }
    std::uint32_t ref(const std::uint8_t* p) const {
        return width == 2 ? p[0] | p[1] << 8 : p[0] | p[1] << 8 | std::uint32_t{p[2]} << 16;
    }
    std::uint32_t codePage() const { return page; }
    // Whether a string holds bytes beyond ASCII though the pool names no
    // code page (0): each machine reads them in its own.
    bool textInMachineCodePage() const { return undeclared; }

    // The stored bytes, in the code page. `id` < count().
    std::string_view bytes(std::uint32_t id) const;
    // Whether the string holds a NUL, where some readers end it.
    bool hasNul(std::uint32_t id) const { return nul[id]; }
    // The string in UTF-8.
    std::string utf8(std::uint32_t id) const;
    // The first id of a string with the same text: two ids of equal text
    // are one key.
    std::uint32_t canonical(std::uint32_t id) const;
    // Whether another string of the pool has the same text: a key stored
    // so is looked up by one copy and may be found under neither.
    bool storedTwice(std::uint32_t id) const;
    // For messages: at most 64 characters in quotes, printable ASCII and
    // '?' for the rest, without copying the whole string.
    std::string shown(std::uint32_t id) const;

private:
    std::vector<std::uint8_t> data;
    // (offset, length) in data by id.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> strings;
    std::vector<bool> nul;
    unsigned width = 2;
    std::uint32_t page = 0;
    bool undeclared = false;
    const char16_t* high = nullptr;
    mutable std::vector<std::uint32_t> canonicalIds;
    mutable std::unordered_map<std::string_view, std::uint32_t> byText;
    // Made on first use, over the whole pool once.
    mutable std::vector<bool> repeated;

    void checkBytes(std::uint32_t id);
};

// For messages: `text` cut to 64 characters, printable ASCII and '?'.
std::string shownText(std::string_view text);

}  // namespace image
