#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "UniqueHandle.h"
#include "tstrings.h"

// A setup program made by the wrap command, loaded as data (never run) to
// read the package and product code it carries.
class SetupProgram {
public:
    // Raises a ToolError naming the file when it is no executable or carries
    // no package.
    explicit SetupProgram(const tstring& path);

    SetupProgram(const SetupProgram&) = delete;
    SetupProgram& operator=(const SetupProgram&) = delete;

    // The embedded product code as it is stored: its bytes, one character each.
    std::string productCodeText() const;
    std::uint64_t packageSize() const;
    // Writes the embedded package to `path`, byte for byte; an existing file
    // is only replaced by a complete copy.
    void savePackage(const tstring& path) const;

private:
    tstring path;
    UniqueModule module;
};
