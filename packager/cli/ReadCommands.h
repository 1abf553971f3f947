#pragma once

#include <string>
#include <vector>

// The commands that look into files: info and extract. `args` starts with the
// command word; each returns the exit status, printing what it found.
namespace ReadCommands {

int info(const std::vector<std::string>& args);
int extract(const std::vector<std::string>& args);

// The setup program's path as given, without "-setup.exe", with ".msi".
std::string defaultExtractOutput(const std::string& setup);

}  // namespace ReadCommands
