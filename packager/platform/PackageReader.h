#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackageFacts.h"

class InputFile;
class OutputFile;

// The library is code the tool does not own, and a package it cannot read
// may crash or hang it: it reads in a child process of the tool, under
// limits of time, memory and stack, from the very file the caller checked
// (an inherited descriptor or handle, never the path again). A child that
// fails becomes one ToolError: "the installer library could not read
// '<file>' (<what happened>): the package is damaged".
namespace PackageReader {

// Raises a ToolError that begins with `label` ("package 'x.msi'") when the
// library cannot open the file as an installer database or its Property
// table cannot be read.

// A package file, held open as `package`.
PackageFacts read(const InputFile& package, const std::string& label);

// The package at [offset, offset + size) of `file` (the one inside a setup
// program): it reaches the library from disk, through an unnamed temporary
// file, never whole in memory; nothing is left on any way out.
PackageFacts read(const InputFile& file, std::uint64_t offset, std::uint64_t size,
                  const std::string& label);

// What `output` holds so far, not yet committed (extract writes the package
// once, has it read, then commits).
PackageFacts read(const OutputFile& output, const std::string& label);

}  // namespace PackageReader
