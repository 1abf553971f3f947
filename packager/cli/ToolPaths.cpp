#include "ToolPaths.h"

#include "ToolPlatform.h"

namespace ToolPaths {

namespace {

std::size_t nameStart(const std::string& path) {
    std::size_t i = path.size();
    while (i > 0 && !ToolPlatform::isSeparator(path[i - 1])) {
        --i;
    }
    return i;
}

}  // namespace

std::string folderOf(const std::string& path) {
    const std::size_t start = nameStart(path);
    // A name in the root keeps the root's separator: "/x" lies in "/".
    return start == 0 ? std::string() : path.substr(0, start == 1 ? 1 : start - 1);
}

std::string nameOf(const std::string& path) {
    return path.substr(nameStart(path));
}

std::string withoutExtension(const std::string& path) {
    const std::size_t start = nameStart(path);
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos || dot < start ? path : path.substr(0, dot);
}

}  // namespace ToolPaths
