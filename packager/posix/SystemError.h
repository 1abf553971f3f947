#pragma once

#include <string>

// The words of the POSIX platform's refusals.
namespace SystemError {

// The system's description of an errno value, without a trailing period, as
// the Windows tool shows its system messages.
std::string describe(int error);

// Raises a ToolError with the text.
[[noreturn]] void fail(const std::string& text);

// "cannot <verb> <what> '<path>': <description of error>"
[[noreturn]] void failCall(const std::string& verb, const std::string& what,
                           const std::string& path, int error);

}  // namespace SystemError
