#include "SystemError.h"

#include <cstring>

#include "ToolError.h"

namespace SystemError {

std::string describe(int error) {
    char buffer[256] = {};
    // The GNU form returns the text, which need not be in the buffer.
    const char* text = strerror_r(error, buffer, sizeof(buffer));
    std::string result = text ? text : "error " + std::to_string(error);
    while (!result.empty() && (result.back() == '.' || result.back() == ' ')) {
        result.pop_back();
    }
    return result;
}

void fail(const std::string& text) {
    throw ToolError(text);
}

void failCall(const std::string& verb, const std::string& what, const std::string& path,
              int error) {
    std::string text = "cannot " + verb + " ";
    if (!what.empty()) {
        text += what + " ";
    }
    fail(text + "'" + path + "': " + describe(error));
}

}  // namespace SystemError
