#pragma once

#include <string>
#include <vector>

#include "Package.h"
#include "PackageChecks.h"

// What `info` tells about a package or a setup program, as text for people
// or as one JSON object for scripts; both hold the same facts.
struct PackageReport {
    std::string path;
    bool setupProgram = false;
    const Package* package = nullptr;
    bool packageSigned = false;
    std::vector<PackageChecks::Finding> findings;
    // Setup programs only.
    bool setupSigned = false;
    std::string embeddedProductCode;
    bool productCodeMatches = false;

    // Reads the package's signature from its bytes and runs the checks.
    PackageReport(const std::string& path, const Package& package, const std::uint8_t* bytes,
                  std::uint64_t size, bool setupProgram);

    void printText() const;
    void printJson() const;
};
