#pragma once

#include <cstdint>

#include "tstrings.h"

struct WrapOptions {
    tstring package;
    // Empty: the package's base name with "-setup.exe", beside the package.
    tstring output;
    // Empty: brumlet-wrapper.exe beside the running tool.
    tstring stub;
    // Empty: the package's own product icon, if it has one.
    tstring icon;
};

namespace WrapCommand {

// The largest package the image loader still maps as part of a setup
// program: above it the program would be written but never start.
extern const std::uint64_t maxPackageSize;

tstring defaultOutput(const tstring& package);

// Writes the setup program and returns its path. A failure leaves no file
// behind and an existing output as it was.
tstring run(const WrapOptions& options);

}  // namespace WrapCommand
