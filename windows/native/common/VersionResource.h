#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "tstrings.h"

// Builds the data of a version resource (RT_VERSION): the fixed file
// information and one string table in US English, Unicode code page, which
// is what Explorer, GetFileVersionInfoW and VerQueryValueW read.
class VersionResource {
public:
    // Takes "a.b.c.d" with up to four numeric fields of 0 to 65535; missing
    // fields are 0. Raises on anything else.
    void setVersion(const tstring& version);

    // Keys in the order given; setting a key again replaces its value.
    void setString(const tstring& key, const tstring& value);

    std::vector<std::uint8_t> bytes() const;

    static const WORD language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    static const WORD codePage = 1200;

private:
    WORD version[4] = {0, 0, 0, 0};
    std::vector<std::pair<tstring, tstring>> strings;
};
