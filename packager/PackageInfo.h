#pragma once

#include <cstdint>
#include <vector>

#include "Guid.h"
#include "tstrings.h"

// What the packaging tool reads from an installer package.
struct PackageInfo {
    Guid productCode;
    tstring productName;
    tstring productVersion;
    tstring manufacturer;
    std::uint64_t size = 0;
    // The .ico file that ARPPRODUCTICON names in the Icon table; empty when
    // there is none or the entry holds something else (an executable).
    std::vector<std::uint8_t> icon;

    // Opens `path` read-only as an installer database. Raises a ToolError
    // that names the file when it cannot be read, is no installer package,
    // or has no ProductCode in the braced GUID form.
    static PackageInfo read(const tstring& path);
};
