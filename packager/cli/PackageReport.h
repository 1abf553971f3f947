#pragma once

#include <string>
#include <vector>

#include "JsonWriter.h"
#include "Package.h"
#include "PackageChecks.h"
#include "SetupSignature.h"

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
    SetupSignature setupSignature;
    std::string embeddedProductCode;
    bool productCodeMatches = false;
    // What is wrong when it does not match.
    std::string mismatch;

    // Reads the package's signature from its bytes and runs the checks.
    PackageReport(const std::string& path, const Package& package, const std::uint8_t* bytes,
                  std::uint64_t size, bool setupProgram);

    void printText() const;
    void printJson() const;

    // The findings as a JSON array of {"id", "level", "message"}.
    static void writeChecks(JsonWriter& json, const std::vector<PackageChecks::Finding>& findings);
};
