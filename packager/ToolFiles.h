#pragma once

#include <cstdint>
#include <vector>

#include "tstrings.h"

// File checks of the packaging tool, each failing with a line the user can act on.
namespace ToolFiles {

// Raises a ToolError naming `what` and the path when the file is missing, a
// folder, or cannot be opened for reading. Returns its size.
std::uint64_t requireReadable(const tstring& path, const tstring& what);

// The first bytes of a file, fewer when it is shorter.
std::vector<std::uint8_t> head(const tstring& path, size_t count);

bool isCompoundFile(const std::vector<std::uint8_t>& head);

// Whether both paths name the same existing file (also through other
// spellings of the path).
bool sameFile(const tstring& a, const tstring& b);

}  // namespace ToolFiles
