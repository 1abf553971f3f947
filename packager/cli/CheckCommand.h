#pragma once

#include <string>
#include <vector>

// The gate for scripts: whether a package, or a setup program, would
// install. `args` starts with the command word; returns the exit status.
namespace CheckCommand {

int run(const std::vector<std::string>& args);

}  // namespace CheckCommand
