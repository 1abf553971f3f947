#pragma once

#include <functional>
#include <string>
#include <vector>

#include "PackageReport.h"

// The commands that look into files: info and extract. `args` starts with the
// command word; each returns the exit status, printing what it found.
namespace ReadCommands {

int info(const std::vector<std::string>& args);
int extract(const std::vector<std::string>& args);

// Reads a package, or a setup program and the package inside, and hands
// `use` what info tells of it. Raises a ToolError for a file that is neither,
// or is damaged.
void examine(const std::string& path, const std::function<void(const PackageReport&)>& use);

// The setup program's path as given, without "-setup.exe", with ".msi".
std::string defaultExtractOutput(const std::string& setup);

}  // namespace ReadCommands
