#pragma once

#include <stdexcept>

#include "ErrorHandling.h"
#include "tstrings.h"

// A failure the user can act on: its text is shown as it is, on one line.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const tstrings::MessageBuilder& message)
        : std::runtime_error(message.str()) {}
};

// A command line the tool does not understand: status 2 and the usage text.
class UsageError : public ToolError {
public:
    using ToolError::ToolError;
};

#define BM_TOOL_FAIL(msg) BM_THROW(::ToolError(::tstrings::MessageBuilder() << msg))
#define BM_USAGE_FAIL(msg) BM_THROW(::UsageError(::tstrings::MessageBuilder() << msg))
