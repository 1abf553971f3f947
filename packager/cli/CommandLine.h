#pragma once

#include <string>
#include <utility>
#include <vector>

// One command's arguments: exactly one file, the options it accepts, each of
// which takes a value, and the flags it accepts, which take none. Raises a
// UsageError for anything else.
class CommandLine {
public:
    // `args` starts with the command word.
    CommandLine(const std::vector<std::string>& args, const std::vector<std::string>& optionNames,
                const std::vector<std::string>& flagNames = {});

    const std::string& file() const noexcept { return positional; }
    // Empty when the option was not given.
    std::string option(const std::string& name) const;
    bool flag(const std::string& name) const;

private:
    std::string positional;
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> flags;
};
