#include "ReadCommands.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>

#include "CommandLine.h"
#include "CommandOutput.h"
#include "CompoundFile.h"
#include "ExistingFile.h"
#include "InputFile.h"
#include "JsonWriter.h"
#include "OutputFile.h"
#include "Package.h"
#include "PackageReport.h"
#include "SetupProgram.h"
#include "SetupSignature.h"
#include "ToolError.h"
#include "ToolPaths.h"
#include "ToolPlatform.h"

namespace ReadCommands {

namespace {

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - end.size(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// The file held open when it holds exactly these bytes; null when it does
// not or cannot be read.
std::unique_ptr<InputFile> holding(const std::string& path, const image::ByteView& bytes) {
    try {
        std::unique_ptr<InputFile> file(new InputFile(path, "output"));
        if (file->size() == bytes.size() &&
            (bytes.size() == 0 ||
             std::equal(bytes.data(), bytes.data() + bytes.size(), file->data()))) {
            return file;
        }
    } catch (const ToolError&) {
    }
    return nullptr;
}

// The package alone on standard output, for a pipe; what the tool says goes
// to standard error. Checked as a written package is, before the first byte.
int extractToStandardOutput(const SetupProgram& setup, bool quiet) {
    if (ToolPlatform::outputIsTerminal()) {
        throw ToolError("standard output is a terminal; send the package to a file or a pipe");
    }
    setup.requireMatch(setup.readPackage());
    const image::ByteView bytes = setup.packageBytes();
    ToolPlatform::writeOut(bytes.data(), bytes.size());
    if (!quiet) {
        ToolPlatform::printErr("brumlet: wrote the package of " + quoted(setup.path()) +
                               " to standard output (" + std::to_string(bytes.size()) + " bytes)");
    }
    return 0;
}

// `kept`: the output already held the package and was left as it was.
void reportExtract(const CommandLine& line, const std::string& output, std::uint64_t size,
                   bool kept) {
    if (line.flag("--json")) {
        JsonWriter json;
        json.beginObject();
        json.key("output").value(output);
        json.key("bytes").value(static_cast<std::int64_t>(size));
        json.key("kept").value(kept);
        json.endObject();
        CommandOutput::printJson(json);
    } else if (!line.flag("--quiet")) {
        ToolPlatform::printOut(
            kept ? "kept " + quoted(output) + ": it already holds this package (" +
                       std::to_string(size) + " bytes)"
                 : "wrote " + quoted(output) + " (" + std::to_string(size) + " bytes)");
    }
}

}  // namespace

void examine(const std::string& path, const std::function<void(const PackageReport&)>& use) {
    requireInputPath(path, "package");
    {
        const InputFile file(path, "file");
        if (!SetupProgram::looksLikeOne(file.data(), file.size())) {
            if (!image::CompoundFile::hasSignature(file.data(), file.size())) {
                throw ToolError(quoted(path) +
                                " is neither an installer package nor a setup program");
            }
            const Package package = Package::read(file);
            use(PackageReport(path, package, file.data(), file.size(), false));
            return;
        }
    }
    const SetupProgram setup(path);
    const Package inside = setup.readPackage();
    PackageReport report(path, inside, setup.packageBytes().data(), setup.packageBytes().size(),
                         true);
    report.setupSigned = setup.isSigned();
    report.setupSignature = SetupSignature::of(setup.image());
    report.embeddedProductCode = setup.productCodeShown();
    report.productCodeMatches = setup.matches(inside);
    if (!report.productCodeMatches) {
        report.mismatch = setup.mismatch(inside);
    }
    use(report);
}

int info(const std::vector<std::string>& args) {
    const CommandLine line(args, {}, CommandOutput::flags());
    int status = 0;
    examine(line.file(), [&](const PackageReport& report) {
        line.flag("--json") ? report.printJson() : report.printText();
        // Shown, but a failure: nothing is to be handed out of it.
        if (!report.mismatch.empty()) {
            ToolPlatform::printErr("brumlet: " + report.mismatch);
            status = 1;
        }
    });
    return status;
}

std::string defaultExtractOutput(const std::string& setup) {
    std::string base = ToolPaths::withoutExtension(setup);
    if (endsWithIgnoringCase(base, "-setup") && ToolPaths::nameOf(base).size() > 6) {
        base.resize(base.size() - 6);
    }
    return base + ".msi";
}

int extract(const std::vector<std::string>& args) {
    std::vector<std::string> flags = CommandOutput::flags();
    flags.push_back("--force");
    const CommandLine line(args, {"-o|--output"}, flags);
    const std::string& setupPath = line.file();
    requireInputPath(setupPath, "setup program");
    if (line.option("-o") == "-" && line.flag("--json")) {
        throw UsageError(
            "extract: -o - puts the package on standard output, where --json "
            "would go too");
    }
    const SetupProgram setup(setupPath);
    if (line.option("-o") == "-") {
        return extractToStandardOutput(setup, line.flag("--quiet"));
    }
    // Messages name the output as the user typed it, or as the default
    // derives from the setup program's name as typed.
    const std::string shown =
        line.option("-o").empty() ? defaultExtractOutput(setupPath) : line.option("-o");
    const std::string output = ToolPlatform::absolutePath(shown);
    const std::string folder = ToolPaths::folderOf(output);
    if (!ToolPlatform::isDirectory(folder)) {
        const std::string shownFolder = ToolPaths::folderOf(shown);
        throw ToolError("output folder " + quoted(shownFolder.empty() ? folder : shownFolder) +
                        " does not exist");
    }
    if (ToolPlatform::isDirectory(output)) {
        throw ToolError("output " + quoted(shown) + " is a folder; name the package to write");
    }
    if (ExistingFile::isSpecial(output)) {
        throw ToolError("output " + quoted(shown) +
                        " is a device, pipe or socket, not a file; choose another name");
    }
    if (ToolPlatform::sameFile(output, setupPath)) {
        throw ToolError("output " + quoted(shown) +
                        " is the setup program itself; choose another name");
    }
    // Only a package that is one, and the one the setup program names, is
    // handed out. The library reads a copy the tool holds anyway: the
    // output, before it is put in place, so that the package is written once.
    setup.checkPackage();
    const image::ByteView bytes = setup.packageBytes();
    if (ToolPlatform::exists(output)) {
        // Most often the very package the setup program was made from, lying
        // beside it: that one is left alone, whatever --force says.
        if (const std::unique_ptr<InputFile> same = holding(output, bytes)) {
            setup.requireMatch(setup.readCopy(*same));
            reportExtract(line, output, bytes.size(), true);
            return 0;
        }
        if (!line.flag("--force")) {
            throw ToolError("output " + quoted(shown) +
                            " exists; give --force to replace it, or -o to write another");
        }
    }
    OutputFile out(shown);
    out.copiesFrom(setup.input());
    out.append(bytes.data(), static_cast<std::size_t>(bytes.size()));
    setup.requireMatch(setup.readCopy(out));
    out.commit();
    reportExtract(line, output, bytes.size(), false);
    return 0;
}

}  // namespace ReadCommands
