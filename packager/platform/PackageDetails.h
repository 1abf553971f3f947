#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What decides whether a package can install from a setup program, and what
// `info` tells about it beyond the product's names: read from the Property,
// Media and File tables and the Summary Information stream, as stored.
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
        std::string cabinet;
    };
    // Every Media row, by DiskId.
    std::vector<Media> media;

    struct File {
        std::string name;  // the FileName column ("SHORT~1.TXT|long name.txt")
        std::int64_t attributes = 0;
    };
    // In sequence order.
    std::vector<File> files;
};
