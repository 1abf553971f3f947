#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace image {

// Builds the data of a version resource (RT_VERSION): the fixed file
// information and one string table in US English, Unicode code page, which
// is what Explorer and the version API read.
class VersionInfo {
public:
    static constexpr std::uint16_t language = 0x409;
    static constexpr std::uint16_t codePage = 1200;

    // Takes "a.b.c.d" with one to four numeric fields of 0 to 65535; missing
    // fields are 0. Raises FormatError on anything else and keeps 0.0.0.0.
    void setVersion(const std::string& version);

    // UTF-8 in; keys in the order first given, setting one again replaces its
    // value. Raises FormatError on text that is no UTF-8.
    void setString(const std::string& key, const std::string& value);

    // Raises FormatError when a block outgrows the format's 16-bit lengths.
    std::vector<std::uint8_t> bytes() const;

private:
    std::uint16_t version[4] = {0, 0, 0, 0};
    std::vector<std::pair<std::u16string, std::u16string>> strings;
};

}  // namespace image
