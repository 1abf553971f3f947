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

// The largest setup program Windows and Wine load (and Wine's resource
// updater can write): just under 2 GiB.
extern const std::uint64_t maxImageSize;

// The largest package that fits into a setup program made from a stub of
// `stubSize` bytes, leaving room for the other resources and the alignment.
std::uint64_t maxPackageSize(std::uint64_t stubSize);

tstring defaultOutput(const tstring& package);

// Writes the setup program and returns its path. A failure leaves no file
// behind and an existing output as it was.
tstring run(const WrapOptions& options);

}  // namespace WrapCommand
