#pragma once

#include <memory>
#include <string>

#include "ByteView.h"
#include "InputFile.h"
#include "Package.h"

namespace image {
class PeFile;
class ResourceTree;
}  // namespace image

// A setup program made by the wrap command, read through the image core's
// bounded reader (never loaded, not even as data): the package it carries
// and the product code beside it.
class SetupProgram {
public:
    // Raises a ToolError naming the file when it is no executable, is
    // damaged, or carries no package.
    explicit SetupProgram(const std::string& path);
    ~SetupProgram();

    SetupProgram(const SetupProgram&) = delete;
    SetupProgram& operator=(const SetupProgram&) = delete;

    // Whether the bytes start like an executable.
    static bool looksLikeOne(const std::uint8_t* data, std::uint64_t size);

    const std::string& path() const noexcept { return file.path(); }
    // The file read, which packageBytes() lie in.
    const InputFile& input() const noexcept { return file; }
    // The embedded product code as it is stored, one character per byte.
    const std::string& productCodeText() const noexcept { return codeText; }
    // The package's bytes, inside the file (the reader checked that).
    image::ByteView packageBytes() const noexcept { return package; }

    // Whether it carries an Authenticode signature (a certificate table).
    bool isSigned() const noexcept;
    // Its headers, checked as a loader needs them.
    const image::PeFile& image() const noexcept { return *pe; }

    // Checks that the bytes are an installer package and reads it.
    Package readPackage() const;
    // The same in two steps, where the caller holds a copy of the bytes
    // (extract: the output it writes, or a file found to hold them already):
    // the check of the bytes, then the copy read.
    void checkPackage() const;
    // The core reads the bytes inside the setup program; the library, as
    // witness, the copy that holds them.
    template <class Copy>
    Package readCopy(const Copy& copy) const {
        const std::string subject = packageSubject();
        return Package::fromFacts(Package::readFacts(package.data(), package.size(), subject),
                                  package.size(), subject,
                                  [&] { return PackageReader::read(copy, subject); });
    }
    bool matches(const Package& inside) const;
    // Raises a ToolError unless the package's product code is the embedded one.
    void requireMatch(const Package& inside) const;
    // What requireMatch says when they differ.
    std::string mismatch(const Package& inside) const;
    // The embedded product code for a message: escaped, and cut short when it
    // is no product code at all but a long run of bytes.
    std::string productCodeShown() const;

private:
    std::string packageSubject() const;

    InputFile file;
    std::unique_ptr<image::PeFile> pe;
    std::unique_ptr<image::ResourceTree> resources;
    image::ByteView package;
    std::string codeText;
};
