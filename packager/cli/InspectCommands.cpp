#include "InspectCommands.h"

#include <algorithm>
#include <cctype>

#include "CommandLine.h"
#include "CompoundFile.h"
#include "InputFile.h"
#include "OutputFile.h"
#include "Package.h"
#include "SetupProgram.h"
#include "ToolError.h"
#include "ToolPaths.h"
#include "ToolPlatform.h"

namespace InspectCommands {

namespace {

void printField(const std::string& name, const std::string& value) {
    std::string padded = name + ":";
    padded.resize(std::max<std::size_t>(padded.size() + 1, 24), ' ');
    ToolPlatform::printOut(padded + value);
}

void printPackage(const Package& package) {
    printField("Product code", package.productCode);
    printField("Product name", package.facts.productName);
    printField("Product version", package.facts.productVersion);
    printField("Manufacturer", package.facts.manufacturer);
    printField("Package size", std::to_string(package.size) + " bytes");
}

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - end.size(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

}  // namespace

int info(const std::vector<std::string>& args) {
    const std::string path = CommandLine(args, {}).file();
    {
        const InputFile file(path, "file");
        if (!SetupProgram::looksLikeOne(file.data(), file.size())) {
            if (!image::CompoundFile::hasSignature(file.data(), file.size())) {
                throw ToolError(quoted(path) +
                                " is neither an installer package nor a setup program");
            }
            const Package package = Package::read(path, file.data(), file.size());
            printField("File", quoted(path) + " (installer package)");
            printPackage(package);
            return 0;
        }
    }
    const SetupProgram setup(path);
    const Package inside = setup.readPackage();
    printField("File", quoted(path) + " (setup program)");
    printPackage(inside);
    printField("Embedded product code",
               setup.productCodeShown() +
                   (setup.matches(inside) ? " (matches the package)" : " (DOES NOT match)"));
    setup.requireMatch(inside);
    return 0;
}

std::string defaultExtractOutput(const std::string& setup) {
    std::string base = ToolPaths::withoutExtension(ToolPlatform::absolutePath(setup));
    if (endsWithIgnoringCase(base, "-setup") && ToolPaths::nameOf(base).size() > 6) {
        base.resize(base.size() - 6);
    }
    return base + ".msi";
}

int extract(const std::vector<std::string>& args) {
    const CommandLine line(args, {"-o"});
    const std::string& setupPath = line.file();
    const SetupProgram setup(setupPath);
    const std::string output = ToolPlatform::absolutePath(
        line.option("-o").empty() ? defaultExtractOutput(setupPath) : line.option("-o"));
    const std::string folder = ToolPaths::folderOf(output);
    if (!ToolPlatform::isDirectory(folder)) {
        throw ToolError("output folder " + quoted(folder) + " does not exist");
    }
    if (ToolPlatform::isDirectory(output)) {
        throw ToolError("output " + quoted(output) + " is a folder; name the package to write");
    }
    if (ToolPlatform::sameFile(output, setupPath)) {
        throw ToolError("output " + quoted(output) +
                        " is the setup program itself; choose another name");
    }
    // Only a package that is one, and the one the setup program names, is
    // handed out.
    setup.requireMatch(setup.readPackage());
    const image::ByteView bytes = setup.packageBytes();
    OutputFile out(output);
    out.append(bytes.data(), static_cast<std::size_t>(bytes.size()));
    out.commit();
    ToolPlatform::printOut("wrote " + quoted(output) + " (" + std::to_string(bytes.size()) +
                           " bytes)");
    return 0;
}

}  // namespace InspectCommands
