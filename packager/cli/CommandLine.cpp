#include "CommandLine.h"

#include <algorithm>

#include "ToolError.h"

namespace {

// The first name of the entry in `names` that `name` is one of ("-o" for
// "--output" in "-o|--output"); empty when there is none.
std::string canonicalName(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& entry : names) {
        for (std::size_t start = 0; start <= entry.size();) {
            const std::size_t end = std::min(entry.find('|', start), entry.size());
            if (entry.compare(start, end - start, name) == 0) {
                return entry.substr(0, entry.find('|'));
            }
            start = end + 1;
        }
    }
    return std::string();
}

}  // namespace

CommandLine::CommandLine(const std::vector<std::string>& args,
                         const std::vector<std::string>& optionNames,
                         const std::vector<std::string>& flagNames) {
    const std::string& command = args.at(0);
    bool havePositional = false;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (havePositional || arg.empty()) {
                throw UsageError(command + ": expects exactly one file, got " + quoted(arg) +
                                 " too");
            }
            positional = arg;
            havePositional = true;
            continue;
        }
        const std::size_t equals = arg.compare(0, 2, "--") == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const std::string flagName = canonicalName(flagNames, name);
        if (!flagName.empty()) {
            if (equals != std::string::npos) {
                throw UsageError(command + ": option " + name + " takes no value");
            }
            if (flag(flagName)) {
                throw UsageError(command + ": option " + name + " given twice");
            }
            flags.push_back(flagName);
            continue;
        }
        const std::string optionName = canonicalName(optionNames, name);
        if (optionName.empty()) {
            throw UsageError(command + ": unknown option " + quoted(name));
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        }
        if (value.empty()) {
            throw UsageError(command + ": option " + name + " needs a value");
        }
        if (!option(optionName).empty()) {
            throw UsageError(command + ": option " + name + " given twice");
        }
        options.emplace_back(optionName, value);
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

void requireInputPath(const std::string& path, const std::string& what) {
    if (path == "-") {
        throw ToolError("give a file: the " + what + " is read by its path");
    }
}
