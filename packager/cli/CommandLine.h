#pragma once

#include <string>
#include <utility>
#include <vector>

// One command's arguments: exactly one file, the options it accepts, each of
// which takes a value, and the flags it accepts, which take none. Raises a
// UsageError for anything else.
//
// A name of the form "-o|--output" gives one option two names; it is asked
// for by the first. A value follows as the next argument or, for a long name,
// after "=" ("--output=x"). "--" ends the options: what follows is the file,
// whatever it starts with.
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

// Inputs are mapped and read more than once, which standard input cannot
// give: "-" as an input is refused (a ToolError) instead of being taken for a
// file of that name. `what` is "package", "stub" or "icon".
void requireInputPath(const std::string& path, const std::string& what);
