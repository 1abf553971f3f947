// brumlet: makes setup programs from installer packages and looks into them.

#include <new>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "HelpText.h"
#include "ReadCommands.h"
#include "ReaderMode.h"
#include "ToolError.h"
#include "ToolPlatform.h"
#include "WrapCommand.h"

#ifndef BRUMLET_VERSION
#error "BRUMLET_VERSION must name the tool's version"
#endif

namespace {

void printLines(const std::vector<std::string>& lines, bool toError) {
    for (const std::string& line : lines) {
        toError ? ToolPlatform::printErr(line) : ToolPlatform::printOut(line);
    }
}

void printUsage(bool toError) {
    printLines(HelpText::overview(), toError);
}

int wrap(const std::vector<std::string>& args) {
    const CommandLine line(args, {"-o", "--stub", "--icon"}, {"--force"});
    WrapOptions options;
    options.package = line.file();
    options.output = line.option("-o");
    options.stub = line.option("--stub");
    options.icon = line.option("--icon");
    options.force = line.flag("--force");
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
    if (HelpText::asksForHelp(command) || (command == "help" && args.size() == 1)) {
        printUsage(false);
        return 0;
    }
    if (command == "help") {
        const std::vector<std::string> page = HelpText::command(args[1]);
        if (page.empty() || args.size() > 2) {
            throw UsageError("help: " + (page.empty() ? "unknown command " + quoted(args[1])
                                                      : std::string("expects one command")));
        }
        printLines(page, false);
        return 0;
    }
    // "brumlet wrap --help" and the like, wherever the word stands.
    const std::vector<std::string> page = HelpText::command(command);
    for (std::size_t i = 1; i < args.size() && !page.empty(); ++i) {
        if (HelpText::asksForHelp(args[i])) {
            printLines(page, false);
            return 0;
        }
    }
    if (command == "--version") {
        ToolPlatform::printOut("brumlet " BRUMLET_VERSION);
        return 0;
    }
    if (command == "wrap") {
        return wrap(args);
    }
    if (command == "info") {
        return ReadCommands::info(args);
    }
    if (command == "extract") {
        return ReadCommands::extract(args);
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
    if (ReaderMode::requested(argc, argv)) {
        return ReaderMode::run(argc, argv);
    }
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
