#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What decides whether a package can install from a setup program, and what
// `info` tells about it beyond the product's names: read from the Property,
// Media, File and Component tables and the Summary Information stream, as
// stored.
struct PackageDetails {
    std::string upgradeCode;
    std::string allUsers;        // ALLUSERS
    std::string installPerUser;  // MSIINSTALLPERUSER
    // The Summary Information's template: "platform;languages" ("x64;1033").
    std::string summaryTemplate;
    // -1 when the Summary Information lacks the value.
    std::int64_t pageCount = -1;  // the least installer version, times 100
    std::int64_t wordCount = -1;  // the source image's flags
    struct Media {
        std::int64_t diskId = 0;
        // The Cabinet column; an embedded cabinet's name starts with '#'.
        // Empty for NULL.
        std::string cabinet;
        std::int64_t lastSequence = 0;
        // For "#name": whether the package holds a stream of exactly that
        // name, the only one Windows Installer will take the cabinet from.
        bool streamFound = false;
    };
    // Every Media row, by DiskId.
    std::vector<Media> media;

    struct File {
        std::string name;  // the FileName column ("SHORT~1.TXT|long name.txt")
        std::int64_t attributes = 0;
        std::int64_t sequence = 0;
    };
    // In sequence order.
    std::vector<File> files;

    // Component rows marked 64-bit (attribute 0x100): Windows installs them
    // as 32-bit ones when the template's platform is Intel.
    std::int64_t components64Bit = 0;

    // Text beyond ASCII in a string pool that names no code page: read as
    // Windows-1252, as the installer libraries here read it, where a
    // machine with another code page reads other characters.
    bool textInMachineCodePage = false;
};
