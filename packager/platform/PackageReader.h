#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackageDetails.h"

// What the tool reads from an installer package through the platform's
// installer library (msi.dll on Windows, libmsi on Linux). The file has
// passed the image core's compound-file check before it gets here.
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

namespace PackageReader {

// Raises a ToolError that begins with `label` ("package 'x.msi'") when the
// library cannot open the file as an installer database or its Property
// table cannot be read.
PackageFacts read(const std::string& path, const std::string& label);

// The same for a package held in memory (the one inside a setup program),
// through a temporary copy where the library reads files only; the copy is
// gone when the call returns.
PackageFacts read(const std::uint8_t* data, std::uint64_t size, const std::string& label);

}  // namespace PackageReader
