#pragma once

#include <sys/resource.h>

#include <string>

#include "PackageReader.h"

// Runs the installer library over the package open as `fd` (which holds the
// package's bytes and nothing else) where its failure cannot take the tool
// down, and returns what it read: in the tool itself started again as the
// reader (ReaderMode), which inherits the descriptor and answers on a pipe.
namespace ReaderProcess {

PackageFacts read(int fd, const std::string& label);

// The reader's address space and stack: see ReaderProcess.cpp for the figures.
extern const rlim_t memoryLimit;
extern const rlim_t stackLimit;

// The program started as the reader: the running tool itself, unless a
// test, whose own program is not the tool, names the tool it built.
void useProgram(const std::string& path);

}  // namespace ReaderProcess
