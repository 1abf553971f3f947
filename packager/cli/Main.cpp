// brumlet: makes setup programs from installer packages and looks into them.

#include <new>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "InspectCommands.h"
#include "ToolError.h"
#include "ToolPlatform.h"
#include "WrapCommand.h"

#ifndef BRUMLET_VERSION
#error "BRUMLET_VERSION must name the tool's version"
#endif

namespace {

const char* const usageLines[] = {
    "Usage:",
    "  brumlet wrap PACKAGE.msi [-o SETUP.exe] [--stub STUB.exe] [--icon ICON.ico]",
    "      Makes a setup program that installs PACKAGE.msi (default output: the",
    "      package's name with -setup.exe, beside the package).",
    "  brumlet info FILE",
    "      Shows product code, name, version, manufacturer and size of a package",
    "      or of the package inside a setup program.",
    "  brumlet extract SETUP.exe [-o PACKAGE.msi]",
    "      Writes the package inside a setup program out unchanged (default",
    "      output: the setup program's name without -setup.exe, with .msi).",
    "  brumlet --help | --version",
    "",
    "Exit status: 0 on success, 1 on a failure, 2 on a wrong command line.",
};

void printUsage(bool toError) {
    for (const char* line : usageLines) {
        toError ? ToolPlatform::printErr(line) : ToolPlatform::printOut(line);
    }
}

int wrap(const std::vector<std::string>& args) {
    const CommandLine line(args, {"-o", "--stub", "--icon"});
    WrapOptions options;
    options.package = line.file();
    options.output = line.option("-o");
    options.stub = line.option("--stub");
    options.icon = line.option("--icon");
    std::vector<std::string> warnings;
    const std::string output = WrapCommand::run(options, warnings);
    for (const std::string& warning : warnings) {
        ToolPlatform::printErr("brumlet: warning: " + warning);
    }
    ToolPlatform::printOut("wrote " + quoted(output));
    return 0;
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) {
        printUsage(true);
        return 2;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        printUsage(false);
        return 0;
    }
    if (command == "--version") {
        ToolPlatform::printOut("brumlet " BRUMLET_VERSION);
        return 0;
    }
    if (command == "wrap") {
        return wrap(args);
    }
    if (command == "info") {
        return InspectCommands::info(args);
    }
    if (command == "extract") {
        return InspectCommands::extract(args);
    }
    throw UsageError("unknown command " + quoted(command));
}

// "brumlet: " and the words on one line, whatever they hold.
std::string oneLine(const std::string& words) {
    std::string line = words;
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    const std::size_t start = line.find_first_not_of(' ');
    const std::size_t end = line.find_last_not_of(' ');
    return "brumlet: " + (start == std::string::npos ? line : line.substr(start, end - start + 1));
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(ToolPlatform::arguments(argc, argv));
    } catch (const UsageError& e) {
        ToolPlatform::printErr(oneLine(e.what()));
        printUsage(true);
        return 2;
    } catch (const std::bad_alloc&) {
        ToolPlatform::printErr(oneLine("out of memory"));
    } catch (const std::exception& e) {
        // ToolError, and whatever a library raised that nothing turned into one.
        ToolPlatform::printErr(oneLine(e.what()));
    }
    return 1;
}
