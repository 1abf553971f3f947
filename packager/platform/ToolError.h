#pragma once

#include <stdexcept>
#include <string>

// A failure the user can act on: its text (UTF-8) is shown as it is, on one
// line after "brumlet: ". The command line and the platform code raise it.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

// A command line the tool does not understand: status 2 and the usage text.
class UsageError : public ToolError {
public:
    using ToolError::ToolError;
};

// 'path', as the tool quotes every name in its messages.
inline std::string quoted(const std::string& text) {
    return "'" + text + "'";
}
