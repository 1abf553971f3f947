#pragma once

#include <string>

// Path spelling on POSIX systems, by text alone: symbolic links are left as
// the user wrote them, as the Windows tool leaves its paths.
namespace Paths {

// The path made absolute against the current folder, with "." and ".."
// steps and repeated slashes taken out.
std::string absolute(const std::string& path);

// The folder part of an absolute path ("/" for a file in the root).
std::string folderOf(const std::string& absolutePath);

std::string join(const std::string& folder, const std::string& name);

}  // namespace Paths
