#pragma once

#include <stdexcept>
#include <string>

// A failure the user can act on: its text is shown as it is, on one line.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
