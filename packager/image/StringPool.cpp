#include "StringPool.h"

#include "ByteView.h"
#include "CodePages.h"
#include "InstallerTables.h"

namespace image {

namespace {

constexpr std::uint32_t kUtf8 = 65001;

// Pages whose ASCII the libraries read alike but whose other bytes they read
// apart (or that this reader does not decode, for the tables' size).
bool asciiOnly(std::uint32_t page) {
    for (std::uint32_t p : {932u, 936u, 949u, 950u, 1258u}) {
        if (page == p) {
            return true;
        }
    }
    return false;
}

std::string num(std::uint64_t value) {
    return std::to_string(value);
}

[[noreturn]] void fail(const std::string& message) {
    throw InstallerTables::DatabaseError(message);
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The length of the well-formed UTF-8 sequence at `p` (no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0: the libraries replace or drop
// what is not, each its own way.
std::size_t utf8Sequence(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    if (c < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char highest = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        highest = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        highest = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > highest) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string shownText(std::string_view text) {
    std::string out = "'";
    for (char c : text.substr(0, 64)) {
        out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return out + (text.size() > 64 ? "...'" : "'");
}

StringPool::StringPool(const StreamSource& streams) {
    const std::vector<std::uint8_t> pool =
        streams.read(InstallerTables::encodeName("_StringPool", true));
    data = streams.read(InstallerTables::encodeName("_StringData", true));
    if (pool.size() % 4 != 0) {
        fail("the _StringPool stream is " + num(pool.size()) +
             " bytes, not a whole number of 4-byte entries");
    }
    const std::uint64_t count = pool.size() / 4;
    // The first entry holds the code page; the top bit of its second half
    // widens references to three bytes.
    if (count > 0) {
        const std::uint16_t flags = ByteView::le16(pool.data() + 2);
        width = (flags & 0x8000) != 0 ? 3 : 2;
        page = ByteView::le16(pool.data()) | std::uint32_t{flags & 0x7FFFu} << 16;
    }
    // Code page 0 names none: Windows reads such text in the installing
    // machine's own code page, and both libraries here read it as
    // Windows-1252. Refusing it would refuse every wixl package with a
    // non-ASCII name (wixl writes no other), so it is read as 1252 and the
    // checks warn that other machines read it otherwise.
    high = CodePages::highHalf(page == 0 ? 1252 : page);
    if (page != kUtf8 && high == nullptr && !asciiOnly(page)) {
        fail("the string pool's code page " + num(page) +
             " is not one that every installer library reads the same way (" +
             CodePages::kAccepted + ")");
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
        if (length > data.size() - offset) {
            fail("string " + num(strings.size()) + " of the string pool runs to byte " +
                 num(offset + length) + ", past the " + num(data.size()) + " bytes of _StringData");
        }
        if (strings.size() > 0xFFFFFF) {
            fail("the string pool holds more strings than a reference can name");
        }
        strings.emplace_back(offset, length);
        offset += length;
    }
    nul.assign(strings.size(), false);
    for (std::uint32_t id = 1; id < strings.size(); ++id) {
        checkBytes(id);
    }
    canonicalIds.assign(strings.size(), 0);
}

std::string_view StringPool::bytes(std::uint32_t id) const {
    return std::string_view(reinterpret_cast<const char*>(data.data()) + strings[id].first,
                            strings[id].second);
}

// Every byte defined in the code page: a string with one that is not is
// dropped by one library and kept by another.
void StringPool::checkBytes(std::uint32_t id) {
    const std::string_view text = bytes(id);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        if (p[i] == 0) {
            nul[id] = true;
        }
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const auto where = [&] {
            return "string " + num(id) + " of the string pool (" + shown(id) + ")";
        };
        if (page == kUtf8) {
            const std::size_t length = utf8Sequence(p + i, text.size() - i);
            if (length == 0) {
                fail(where() + " is not well-formed UTF-8 at its byte " + num(i + 1) +
                     ", though the pool's code page is 65001");
            }
            i += length;
            continue;
        }
        if (high == nullptr) {
            fail(where() + " holds the byte " + hex(p[i]) + ", but under the pool's code page " +
                 num(page) + " only ASCII reads the same in every installer library");
        }
        if (high[p[i] - 0x80] == 0) {
            fail(
                where() + " holds the byte " + hex(p[i]) + ", which code page " +
                num(page == 0 ? 1252 : page) + " leaves undefined" +
                (page == 0 ? " (the pool names no code page: the libraries read it as 1252)" : ""));
        }
        if (page == 0) {
            undeclared = true;
        }
        ++i;
    }
}

std::string StringPool::utf8(std::uint32_t id) const {
    const std::string_view text = bytes(id);
    if (high == nullptr) {
        return std::string(text);  // ASCII or UTF-8, checked
    }
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        appendUtf8(out, c < 0x80 ? c : high[c - 0x80]);
    }
    return out;
}

std::uint32_t StringPool::canonical(std::uint32_t id) const {
    if (canonicalIds[id] == 0) {
        canonicalIds[id] = byText.emplace(bytes(id), id).first->second;
    }
    return canonicalIds[id];
}

bool StringPool::storedTwice(std::uint32_t id) const {
    if (repeated.empty()) {
        repeated.assign(strings.size(), false);
        std::unordered_map<std::string_view, std::uint32_t> first;
        first.reserve(strings.size());
        // Empty entries are the pool's unused slots, not strings.
        for (std::uint32_t i = 1; i < strings.size(); ++i) {
            if (strings[i].second == 0) {
                continue;
            }
            const auto placed = first.emplace(bytes(i), i);
            if (!placed.second) {
                repeated[i] = true;
                repeated[placed.first->second] = true;
            }
        }
    }
    return repeated[id];
}

std::string StringPool::shown(std::uint32_t id) const {
    return shownText(bytes(id));
}

}  // namespace image
