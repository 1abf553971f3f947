#pragma once

#include <sys/resource.h>

#include <string>

#include "PackageReader.h"

// Runs the installer library over the package open as `fd` (which holds the
// package's bytes and nothing else) where its failure cannot take the tool
// down, and returns what it read: in the reader, a small program of its own
// (ReaderProgram.cpp) that alone loads libmsi and GLib, inherits the
// descriptor and answers on a pipe.
namespace ReaderProcess {

PackageFacts read(int fd, const std::string& label);

// libmsi reads the tables and the streams asked for, never the whole
// package. Measured (address space at its peak): 46 MiB for a small package,
// 40 of them the libraries' code; 49 MiB for one of 210 MiB; 56 MiB for one
// with 20,000 files, about half a kilobyte more per file. 512 MiB is room for
// about a million files and still far from what a runner of 2 GiB can spare.
constexpr rlim_t memoryLimit = rlim_t(512) << 20;
// The stack libmsi and libgsf are measured to survive with (the usual 8 MiB);
// fixed, so that an unlimited stack in the caller's shell changes nothing.
constexpr rlim_t stackLimit = rlim_t(8) << 20;

// The reader program: beside the tool (a build tree), else in the
// installation's libexec/brumlet; or what a test, whose own program is not
// the tool, names with useProgram().
const std::string& program();
void useProgram(const std::string& path);

}  // namespace ReaderProcess
