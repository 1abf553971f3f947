#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Package.h"

// What makes a package unable to install from a setup program, found before
// one is made. A setup program extracts the package alone into an empty
// folder: whatever the package expects beside it is not there.
namespace PackageChecks {

struct Finding {
    // A refusal stops the wrap; no option overrides it, as such a setup
    // program could never install.
    bool refusal = false;
    // A stable name for scripts ("external-cabinet", ...).
    std::string id;
    // One line that says what to change, beginning with `owner`.
    std::string message;
};

// `owner` names the package in the messages ("package 'x.msi'"); `path` is
// the package's file as the user named it, for the commands a message gives
// to run on it (empty for a package that is no file of its own). `isFile`
// tells whether a cabinet the package names is there beside it to embed
// (none: every one is taken to be there).
std::vector<Finding> run(const Package& package, const std::string& owner, const std::string& path,
                         const std::function<bool(const std::string&)>& isFile = {});

// The platform of the Summary Information's template, as Windows names the
// processor: "x86", "x64", "Arm64", "Itanium", or the template's own word.
std::string architecture(const PackageDetails& details);
bool is64Bit(const PackageDetails& details);

// "per-user", "per-machine" or "per-user or per-machine", from ALLUSERS and
// MSIINSTALLPERUSER as Windows Installer 5 reads them.
std::string installScope(const PackageDetails& details);

}  // namespace PackageChecks
