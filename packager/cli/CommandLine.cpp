#include "CommandLine.h"

#include <algorithm>

#include "ToolError.h"

CommandLine::CommandLine(const std::vector<std::string>& args,
                         const std::vector<std::string>& optionNames,
                         const std::vector<std::string>& flagNames) {
    const std::string& command = args.at(0);
    bool havePositional = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (std::find(flagNames.begin(), flagNames.end(), arg) != flagNames.end()) {
            if (flag(arg)) {
                throw UsageError(command + ": option " + arg + " given twice");
            }
            flags.push_back(arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            if (std::find(optionNames.begin(), optionNames.end(), arg) == optionNames.end()) {
                throw UsageError(command + ": unknown option " + quoted(arg));
            }
            if (i + 1 == args.size() || args[i + 1].empty()) {
                throw UsageError(command + ": option " + arg + " needs a value");
            }
            if (!option(arg).empty()) {
                throw UsageError(command + ": option " + arg + " given twice");
            }
            options.emplace_back(arg, args[++i]);
        } else {
            if (havePositional || arg.empty()) {
                throw UsageError(command + ": expects exactly one file, got " + quoted(arg) +
                                 " too");
            }
            positional = arg;
            havePositional = true;
        }
    }
    if (!havePositional) {
        throw UsageError(command + ": no file given");
    }
}

std::string CommandLine::option(const std::string& name) const {
    for (const auto& o : options) {
        if (o.first == name) {
            return o.second;
        }
    }
    return std::string();
}

bool CommandLine::flag(const std::string& name) const {
    return std::find(flags.begin(), flags.end(), name) != flags.end();
}
