#include "InstallerTables.h"

#include "TableCatalogue.h"

namespace image {
namespace InstallerTables {

namespace {

const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
constexpr char16_t kTableMark = 0x4840;
constexpr char16_t kPairBase = 0x3800;
constexpr char16_t kSingleBase = 0x4800;

int indexOf(char16_t c) {
    for (int i = 0; i < 64; ++i) {
        if (static_cast<unsigned char>(kAlphabet[i]) == c) {
            return i;
        }
    }
    return -1;
}

}  // namespace

void check(const StreamSource& streams) {
    TableCatalogue catalogue(streams);
}

std::u16string encodeName(const std::string& name, bool table) {
    std::u16string units;
    for (char c : name) {
        units.push_back(static_cast<unsigned char>(c));
    }
    return encodeName(units, table);
}

std::u16string encodeName(const std::u16string& name, bool table) {
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
            stored.push_back(name[i]);
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
