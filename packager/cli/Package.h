#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "PackageReader.h"

class InputFile;

// An installer package the tool has checked: a compound file whose class is
// that of an installer database, whose facts the image core read and the
// installer library read the same, with a product code in the braced form. Each check fails with
// one line naming the package: `subject` as it stands before "is ..." ("'app.msi'", "the package
// inside 'app-setup.exe'") and `owner` before "has ..." ("package 'app.msi'").
struct Package {
    PackageFacts facts;
    // Braced, upper case: what the setup program carries.
    std::string productCode;
    std::uint64_t size = 0;

    // The compound file check alone, which runs before any library opens the
    // bytes. Patches and transforms are named as what they are.
    static void requireInstallerDatabase(const std::uint8_t* data, std::uint64_t size,
                                         const std::string& subject);

    // A package file, checked and read as it is held open.
    static Package read(const InputFile& file);

    // The package at [offset, offset + size) inside a setup program.
    static Package readEmbedded(const InputFile& setup, std::uint64_t offset, std::uint64_t size);

    // The image core's reading of bytes that requireInstallerDatabase passed.
    static PackageFacts readFacts(const std::uint8_t* data, std::uint64_t size,
                                  const std::string& subject);

    // The facts the core read, checked, then witnessed: `witness` has the
    // installer library read the same bytes (PackageReader::read), and any
    // fact it reads otherwise is a refusal.
    static Package fromFacts(PackageFacts facts, std::uint64_t size, const std::string& owner,
                             const std::function<PackageFacts()>& witness);
};
