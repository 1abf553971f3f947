#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
};

namespace PackageReader {

// Raises a ToolError naming the path when the library cannot open the file
// as an installer database or its Property table cannot be read.
PackageFacts read(const std::string& path);

}  // namespace PackageReader
