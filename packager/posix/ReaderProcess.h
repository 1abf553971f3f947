#pragma once

#include <string>

#include "PackageReader.h"

// Runs the installer library over the package open as `fd` (which holds the
// package's bytes and nothing else) where its failure cannot take the tool
// down, and returns what it read.
namespace ReaderProcess {

PackageFacts read(int fd, const std::string& label);

}  // namespace ReaderProcess
