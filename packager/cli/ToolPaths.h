#pragma once

#include <string>

// Names taken apart as the platform separates folders.
namespace ToolPaths {

// Everything before the last separator; "" when there is none.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
// The path without the extension of its last name ("a/b.msi" -> "a/b").
std::string withoutExtension(const std::string& path);

}  // namespace ToolPaths
