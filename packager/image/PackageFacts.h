#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackageDetails.h"

// What the tools tell and check of an installer package. The image core reads
// it from the package's own tables; the installer library, run over the same
// bytes, must read the same.
struct PackageFacts {
    // As stored in the Property table; the command line checks the form.
    std::string productCode;
    std::string productName;
    std::string productVersion;
    std::string manufacturer;
    // ARPPRODUCTICON, empty when the package has none.
    std::string iconName;
    // The Icon table's stream of that name; empty when there is no such row.
    std::vector<std::uint8_t> icon;
    PackageDetails details;
};
