#include "Paths.h"

#include <errno.h>
#include <unistd.h>

#include <vector>

#include "SystemError.h"

namespace Paths {

namespace {

std::string currentFolder() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        const int error = errno;
        if (error != ERANGE || buffer.size() >= (1u << 20)) {
            SystemError::fail("cannot find the current folder: " + SystemError::describe(error));
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace

std::string absolute(const std::string& path) {
    const std::string full = !path.empty() && path[0] == '/' ? path : currentFolder() + "/" + path;
    std::vector<std::string> steps;
    std::size_t start = 0;
    while (start <= full.size()) {
        std::size_t end = full.find('/', start);
        if (end == std::string::npos) {
            end = full.size();
        }
        const std::string step = full.substr(start, end - start);
        if (step == "..") {
            if (!steps.empty()) {
                steps.pop_back();
            }
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& step : steps) {
        result += "/" + step;
    }
    return result.empty() ? "/" : result;
}

std::string folderOf(const std::string& absolutePath) {
    const std::size_t slash = absolutePath.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return "/";
    }
    return absolutePath.substr(0, slash);
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

}  // namespace Paths
