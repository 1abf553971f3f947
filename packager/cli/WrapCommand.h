#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WrapOptions {
    std::string package;
    // Empty: the package's base name with "-setup.exe", beside the package.
    std::string output;
    // Empty: the platform's default stub (brumlet-wrapper.exe beside the tool).
    std::string stub;
    // Empty: the package's own product icon, if it has one that can be used.
    std::string icon;
    // Replace an existing output that is no setup program made by Brumlet,
    // or that is read-only.
    bool force = false;
};

// What a wrap wrote.
struct WrapResult {
    std::string output;  // absolute
    std::uint64_t bytes = 0;
};

namespace WrapCommand {

// The largest package that fits into a setup program made from a stub of
// `stubSize` bytes, leaving room for the other resources and the alignment.
std::uint64_t maxPackageSize(std::uint64_t stubSize);

// The package's path as given, with "-setup.exe" for its extension.
std::string defaultOutput(const std::string& package);

// Writes the setup program; each warning goes to `warnings`, one line each.
// A failure leaves no file behind and an existing output as it was.
WrapResult run(const WrapOptions& options, std::vector<std::string>& warnings);

// What --json shows of a wrap: the output, its size and the warnings.
void printJson(const WrapResult& result, const std::vector<std::string>& warnings);

}  // namespace WrapCommand
