// brumlet.exe: makes setup programs from installer packages and looks into them.

#include <windows.h>

#include <algorithm>
#include <iostream>

#include "Console.h"
#include "ErrorHandling.h"
#include "Log.h"
#include "PackageInfo.h"
#include "ScopedDeleter.h"
#include "SetupProgram.h"
#include "ToolError.h"
#include "ToolFiles.h"
#include "WinFileUtils.h"
#include "WinSysInfo.h"
#include "WrapCommand.h"
#include "app.h"

namespace {

const wchar_t* const usageText =
    L"Usage:\n"
    L"  brumlet wrap PACKAGE.msi [-o SETUP.exe] [--stub STUB.exe] [--icon ICON.ico]\n"
    L"      Makes a setup program that installs PACKAGE.msi (default output: the\n"
    L"      package's name with -setup.exe, beside the package).\n"
    L"  brumlet info FILE\n"
    L"      Shows product code, name, version, manufacturer and size of a package\n"
    L"      or of the package inside a setup program.\n"
    L"  brumlet extract SETUP.exe [-o PACKAGE.msi]\n"
    L"      Writes the package inside a setup program out unchanged (default\n"
    L"      output: the setup program's name without -setup.exe, with .msi).\n"
    L"  brumlet --help | --version\n"
    L"\n"
    L"Exit status: 0 on success, 1 on a failure, 2 on a wrong command line.";

void printUsage(bool toError) {
    for (const tstring& line : tstrings::split(usageText, L"\n")) {
        toError ? Console::err(line) : Console::out(line);
    }
}

// One positional argument and the options the command accepts, each of which
// takes a value.
struct CommandLine {
    tstring positional;
    std::vector<std::pair<tstring, tstring>> options;

    tstring option(const tstring& name) const {
        for (const auto& o : options) {
            if (o.first == name) {
                return o.second;
            }
        }
        return tstring();
    }
};

CommandLine parse(const tstring& command, const tstring_array& args,
                  const tstring_array& optionNames) {
    CommandLine line;
    bool havePositional = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const tstring& arg = args[i];
        if (arg.size() > 1 && arg[0] == L'-') {
            const auto known = std::find(optionNames.begin(), optionNames.end(), arg);
            if (known == optionNames.end()) {
                BM_USAGE_FAIL(command << ": unknown option '" << arg << "'");
            }
            if (i + 1 == args.size() || args[i + 1].empty()) {
                BM_USAGE_FAIL(command << ": option " << arg << " needs a value");
            }
            if (!line.option(arg).empty()) {
                BM_USAGE_FAIL(command << ": option " << arg << " given twice");
            }
            line.options.emplace_back(arg, args[++i]);
        } else {
            if (havePositional || arg.empty()) {
                BM_USAGE_FAIL(command << ": expects exactly one file, got '" << arg << "' too");
            }
            line.positional = arg;
            havePositional = true;
        }
    }
    if (!havePositional) {
        BM_USAGE_FAIL(command << ": no file given");
    }
    return line;
}

tstring quoted(const tstring& s) {
    return L"'" + s + L"'";
}

void printField(const tstring& name, const tstring& value) {
    tstring padded = name + L":";
    padded.resize(std::max<size_t>(padded.size() + 1, 24), L' ');
    Console::out(padded + value);
}

void printPackage(const PackageInfo& info) {
    printField(L"Product code", info.productCode.toString());
    printField(L"Product name", info.productName);
    printField(L"Product version", info.productVersion);
    printField(L"Manufacturer", info.manufacturer);
    printField(L"Package size", std::to_wstring(info.size) + L" bytes");
}

int wrapCommand(const tstring_array& args) {
    const CommandLine line = parse(L"wrap", args, {L"-o", L"--stub", L"--icon"});
    WrapOptions options;
    options.package = line.positional;
    options.output = line.option(L"-o");
    options.stub = line.option(L"--stub");
    options.icon = line.option(L"--icon");
    const tstring output = WrapCommand::run(options);
    Console::out(L"wrote " + quoted(output));
    return 0;
}

int infoCommand(const tstring_array& args) {
    const tstring file = parse(L"info", args, {}).positional;
    ToolFiles::requireReadable(file, L"file");
    if (ToolFiles::isCompoundFile(ToolFiles::head(file, 8))) {
        const PackageInfo info = PackageInfo::read(file);
        printField(L"File", quoted(file) + L" (installer package)");
        printPackage(info);
        return 0;
    }

    const SetupProgram setup(file);
    const std::string embedded = setup.productCodeText();
    FileUtils::ScopedDeleter cleaner;
    const tstring tmp = FileUtils::createTempFile(L"brm", L".msi", FileUtils::getTempDirectory());
    cleaner.addFile(tmp);
    setup.savePackage(tmp);
    const PackageInfo info = PackageInfo::read(tmp);

    printField(L"File", quoted(file) + L" (setup program)");
    printPackage(info);
    bool matches = false;
    try {
        matches = Guid(embedded) == info.productCode;
    } catch (const std::runtime_error&) {
    }
    const tstring embeddedText = tstrings::fromUtf8(embedded);
    printField(L"Embedded product code",
               embeddedText + (matches ? L" (matches the package)" : L" (DOES NOT match)"));
    if (!matches) {
        BM_TOOL_FAIL("setup program " << quoted(file) << " carries the product code "
                                      << quoted(embeddedText) << " but its package has "
                                      << info.productCode.toString()
                                      << "; its uninstall would not find the product: wrap "
                                         "the package again");
    }
    return 0;
}

tstring defaultExtractOutput(const tstring& setup) {
    tstring base = FileUtils::removeSuffix(FileUtils::toAbsolutePath(setup));
    if (tstrings::endsWith(base, L"-setup", tstrings::IgnoreCase) &&
        FileUtils::basename(base).size() > 6) {
        base.resize(base.size() - 6);
    }
    return base + L".msi";
}

int extractCommand(const tstring_array& args) {
    const CommandLine line = parse(L"extract", args, {L"-o"});
    const tstring setupPath = line.positional;
    const SetupProgram setup(setupPath);
    const tstring output = FileUtils::toAbsolutePath(
        line.option(L"-o").empty() ? defaultExtractOutput(setupPath) : line.option(L"-o"));
    const tstring dir = FileUtils::dirname(output);
    if (!FileUtils::isDirectory(dir)) {
        BM_TOOL_FAIL("output folder " << quoted(dir) << " does not exist");
    }
    if (FileUtils::isDirectory(output)) {
        BM_TOOL_FAIL("output " << quoted(output) << " is a folder; name the package to write");
    }
    if (ToolFiles::sameFile(output, setupPath)) {
        BM_TOOL_FAIL("output " << quoted(output)
                               << " is the setup program itself; choose "
                                  "another name");
    }
    setup.savePackage(output);
    Console::out(L"wrote " + quoted(output) + L" (" + std::to_wstring(setup.packageSize()) +
                 L" bytes)");
    return 0;
}

// The error's own words without the source location, on one line.
tstring oneLine(const std::exception& e) {
    const auto* located = dynamic_cast<const BmErrorBase*>(&e);
    tstring line = tstrings::fromUtf8(located ? located->bareMessage() : e.what());
    for (auto& c : line) {
        if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
    }
    return L"brumlet: " + tstrings::trim(line, L" ");
}

int run() {
    const tstring_array args = SysInfo::getCommandArgs(SysInfo::ExcludeProgramName);
    if (args.empty()) {
        printUsage(true);
        return 2;
    }
    const tstring& command = args[0];
    if (command == L"--help" || command == L"-h" || command == L"help") {
        printUsage(false);
        return 0;
    }
    if (command == L"--version") {
        Console::out(L"brumlet " BRUMLET_VERSION);
        return 0;
    }
    if (command == L"wrap") {
        return wrapCommand(args);
    }
    if (command == L"info") {
        return infoCommand(args);
    }
    if (command == L"extract") {
        return extractCommand(args);
    }
    BM_USAGE_FAIL("unknown command " << quoted(command));
}

}  // namespace

int wmain() {
    // Static: the logger may still be used while the process ends.
    static NopLogAppender quiet;
    static StreamLogAppender trace(std::cerr);
    Logger::instance().installAppender(app::isLoggingEnabled() ? static_cast<LogAppender*>(&trace)
                                                               : &quiet);
    try {
        return run();
    } catch (const UsageError& e) {
        Console::err(oneLine(e));
        printUsage(true);
        return 2;
    } catch (const std::exception& e) {
        Console::err(oneLine(e));
    }
    return 1;
}
