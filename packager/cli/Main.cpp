// brumlet: makes setup programs from installer packages and looks into them.

#include <new>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "CommandLine.h"
#include "CommandOutput.h"
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
    std::vector<std::string> flags = CommandOutput::flags();
    flags.push_back("--force");
    const CommandLine line(args, {"-o|--output", "--stub", "--icon"}, flags);
    WrapOptions options;
    options.package = line.file();
    options.output = line.option("-o");
    options.stub = line.option("--stub");
    options.icon = line.option("--icon");
    options.force = line.flag("--force");
    std::vector<std::string> warnings;
    const WrapResult result = WrapCommand::run(options, warnings);
    CommandOutput::printWarnings(warnings);
    if (line.flag("--json")) {
        WrapCommand::printJson(result, warnings);
    } else if (!line.flag("--quiet")) {
        ToolPlatform::printOut("wrote " + quoted(result.output));
    }
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
    if (command == "check") {
        return CheckCommand::run(args);
    }
    throw UsageError("unknown command " + quoted(command));
}

// The words on one line, whatever they hold.
std::string oneLine(const std::string& words) {
    std::string line = words;
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    const std::size_t start = line.find_first_not_of(' ');
    const std::size_t end = line.find_last_not_of(' ');
    return start == std::string::npos ? line : line.substr(start, end - start + 1);
}

// The line on standard error and, when the command line asks for JSON, the
// same words for a script on standard output.
int fail(const std::vector<std::string>& args, const std::string& words, int status) {
    const std::string line = oneLine(words);
    ToolPlatform::printErr("brumlet: " + line);
    if (CommandOutput::wantsJson(args)) {
        CommandOutput::printJsonError(line, status);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (ReaderMode::requested(argc, argv)) {
        return ReaderMode::run(argc, argv);
    }
    std::vector<std::string> args;
    try {
        args = ToolPlatform::arguments(argc, argv);
        return run(args);
    } catch (const UsageError& e) {
        fail(args, e.what(), 2);
        // The command's own usage, which names what it takes; the tool's,
        // which names the commands, when the command itself was wrong or
        // help was asked for one that does not exist.
        const std::vector<std::string> page = args.empty() || args[0] == "help"
                                                  ? std::vector<std::string>()
                                                  : HelpText::command(args[0]);
        page.empty() ? printUsage(true) : printLines(page, true);
        return 2;
    } catch (const std::bad_alloc&) {
        return fail(args, "out of memory", 1);
    } catch (const std::exception& e) {
        // ToolError, and whatever a library raised that nothing turned into one.
        return fail(args, e.what(), 1);
    }
}
