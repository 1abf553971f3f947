#include "WrapCommand.h"

#include <future>
#include <memory>

#include "CommandLine.h"
#include "CommandOutput.h"
#include "ExistingFile.h"
#include "IconResources.h"
#include "InputFile.h"
#include "JsonWriter.h"
#include "OutputFile.h"
#include "Package.h"
#include "PackageChecks.h"
#include "PeFile.h"
#include "ResourceTree.h"
#include "SetupProgram.h"
#include "SetupWriter.h"
#include "Stub.h"
#include "ToolError.h"
#include "ToolPaths.h"
#include "ToolPlatform.h"
#include "VersionInfo.h"

namespace WrapCommand {

std::uint64_t maxPackageSize(std::uint64_t stubSize) {
    const std::uint64_t reserve = stubSize + 64 * 1024;
    const std::uint64_t limit = image::SetupWriter::maxImageSize;
    return reserve < limit ? limit - reserve : 0;
}

namespace {

using image::ResourceType::rcdata;

// The stub's headers and resources, read and checked.
struct CheckedStub {
    std::unique_ptr<image::PeFile> pe;
    image::ResourceTree resources;
};

CheckedStub checkStub(const InputFile& stub) {
    const std::string name = "stub " + quoted(stub.path());
    if (!image::PeFile::hasSignature(stub.data(), stub.size())) {
        throw ToolError(name + " is not a Windows executable");
    }
    CheckedStub checked;
    try {
        checked.pe.reset(new image::PeFile(stub.data(), stub.size()));
        checked.resources = image::ResourceTree::read(*checked.pe);
        image::Stub::check(*checked.pe, checked.resources);
    } catch (const image::StubRefusal& e) {
        throw ToolError(name + " " + e.what());
    } catch (const image::FormatError& e) {
        throw ToolError(name + " is a damaged executable: " + e.what());
    }
    return checked;
}

// An icon from an .ico file or from an executable's first icon group (the
// program's own icon, which packages often name as their product icon).
// Raises image::FormatError saying why it cannot be used. The result views
// `bytes`, and `pe` keeps the executable's headers for it.
std::unique_ptr<image::IconResources> readIcon(image::ByteView bytes,
                                               std::unique_ptr<image::PeFile>& pe) {
    if (!image::PeFile::hasSignature(bytes.data(), bytes.size())) {
        return std::unique_ptr<image::IconResources>(
            new image::IconResources(image::IconResources::fromIco(bytes)));
    }
    pe.reset(new image::PeFile(bytes.data(), bytes.size()));
    const image::ResourceTree resources = image::ResourceTree::read(*pe);
    return std::unique_ptr<image::IconResources>(
        new image::IconResources(image::IconResources::fromExecutable(*pe, resources)));
}

// The product icon the package names is decoration: one that cannot be used
// is left out, and the user is told.
std::unique_ptr<image::IconResources> packageIcon(const Package& package,
                                                  const std::string& packagePath,
                                                  std::unique_ptr<image::PeFile>& pe,
                                                  std::vector<std::string>& warnings) {
    const PackageFacts& facts = package.facts;
    if (facts.iconName.empty()) {
        return nullptr;
    }
    const std::string intro = "package " + quoted(packagePath) + " names the product icon " +
                              quoted(facts.iconName) + " (ARPPRODUCTICON), ";
    const std::string outro = "; the setup program gets no icon (give one with --icon)";
    if (facts.icon.empty()) {
        warnings.push_back(intro + "but its Icon table holds no such icon" + outro);
        return nullptr;
    }
    const image::ByteView bytes(facts.icon.data(), facts.icon.size());
    const bool program = image::PeFile::hasSignature(bytes.data(), bytes.size());
    try {
        return readIcon(bytes, pe);
    } catch (const image::FormatError& e) {
        warnings.push_back(
            intro +
            (program
                 ? "which is a program's icon that cannot be used (" + std::string(e.what()) + ")"
                 : "which is a damaged .ico file (" + std::string(e.what()) + ")") +
            outro);
        return nullptr;
    }
}

std::vector<std::uint8_t> versionResource(const PackageFacts& facts, const std::string& output,
                                          const std::string& packagePath) {
    image::VersionInfo version;
    try {
        version.setVersion(facts.productVersion);
    } catch (const image::FormatError&) {
        // The strings still tell the version; the numbers stay 0.
    }
    try {
        version.setString("CompanyName", facts.manufacturer);
        version.setString("FileDescription",
                          facts.productName.empty() ? "Setup" : facts.productName + " Setup");
        version.setString("FileVersion", facts.productVersion);
        version.setString("OriginalFilename", ToolPaths::nameOf(output));
        version.setString("ProductName", facts.productName);
        version.setString("ProductVersion", facts.productVersion);
        return version.bytes();
    } catch (const image::FormatError& e) {
        throw ToolError("package " + quoted(packagePath) +
                        " has properties that no version resource can hold: " + e.what());
    }
}

// Whether the file is a setup program this tool made: what wrap may replace
// without being told to.
bool isSetupProgram(const std::string& path) {
    try {
        const SetupProgram setup(path);
        return true;
    } catch (const ToolError&) {
        return false;
    }
}

// `shown` is the output as the user typed it (or as the default derives from
// the package as typed): every message names that.
void checkOutput(const WrapOptions& options, const std::string& output, const std::string& shown,
                 const std::string& stub) {
    const std::string folder = ToolPaths::folderOf(output);
    if (!ToolPlatform::isDirectory(folder)) {
        const std::string shownFolder = ToolPaths::folderOf(shown);
        throw ToolError("output folder " + quoted(shownFolder.empty() ? folder : shownFolder) +
                        " does not exist");
    }
    if (ToolPlatform::isDirectory(output)) {
        throw ToolError("output " + quoted(shown) +
                        " is a folder; name the setup program to write");
    }
    if (ExistingFile::isSpecial(output)) {
        throw ToolError("output " + quoted(shown) +
                        " is a device, pipe or socket, not a file; choose another name");
    }
    if (ToolPlatform::sameFile(output, options.package)) {
        throw ToolError("output " + quoted(shown) + " is the package itself; choose another name");
    }
    if (ToolPlatform::sameFile(output, stub)) {
        throw ToolError("output " + quoted(shown) + " is the stub itself; choose another name");
    }
    if (options.force || !ToolPlatform::exists(output)) {
        return;
    }
    if (!isSetupProgram(output)) {
        throw ToolError("output " + quoted(shown) +
                        " exists and is no setup program made by Brumlet; give --force to "
                        "replace it, or -o to write another");
    }
    if (ExistingFile::isReadOnly(output)) {
        throw ToolError("output " + quoted(shown) +
                        " is read-only; give --force to replace it, or -o to write another");
    }
}

// Standard input and output cannot stand for files here: every input is
// mapped, and the output is written through a sibling and renamed.
void checkNames(const WrapOptions& options) {
    requireInputPath(options.package, "package");
    requireInputPath(options.stub, "stub");
    requireInputPath(options.icon, "icon");
    if (options.output == "-") {
        throw ToolError(
            "give a file: the setup program is written to its path, not to "
            "standard output");
    }
}

// A setup program's signature covers its bytes, so a new one at its place
// has none; whoever signed the old one should know to sign again.
void warnIfSigned(const std::string& output, const std::string& shown,
                  std::vector<std::string>& warnings) {
    if (!ToolPlatform::exists(output)) {
        return;
    }
    try {
        if (SetupProgram(output).isSigned()) {
            warnings.push_back(quoted(shown) + " was signed; sign the new setup program again");
        }
    } catch (const ToolError&) {
        // No setup program of ours: nothing it carried is this tool's to tell.
    }
}

[[noreturn]] void tooLarge(const std::string& path, std::uint64_t size, std::uint64_t most) {
    throw ToolError("package " + quoted(path) + " is too large to embed: " + std::to_string(size) +
                    " bytes, at most " + std::to_string(most) +
                    " fit in a setup program that Windows can start");
}

}  // namespace

std::string defaultOutput(const std::string& package) {
    return ToolPaths::withoutExtension(package) + "-setup.exe";
}

WrapResult run(const WrapOptions& options, std::vector<std::string>& warnings) {
    checkNames(options);
    const InputFile packageFile(options.package, "package");
    const std::string stubPath = options.stub.empty() ? ToolPlatform::defaultStub() : options.stub;
    if (options.stub.empty() && !ToolPlatform::exists(stubPath)) {
        throw ToolError("no stub: " + quoted(stubPath) +
                        " does not exist; give the bare stub brumlet-wrapper.exe with --stub");
    }
    const InputFile stubFile(stubPath, "stub");
    // Before anything reads the package: a sparse file of terabytes is
    // refused at once.
    const std::uint64_t most = maxPackageSize(stubFile.size());
    if (packageFile.size() > most) {
        tooLarge(options.package, packageFile.size(), most);
    }
    // The package's share of the checksum is summed on a thread of its own
    // while the package and the stub are checked, which for a package of
    // hundreds of megabytes takes that reading off the time of the wrap. A
    // refusal waits for it (the future's destructor): about a second per
    // gigabyte at most, since the size is checked above.
    image::SetupWriter::Presummed packageSum;
    packageSum.data = image::ByteView(packageFile.data(), packageFile.size());
    packageSum.sum = std::async(std::launch::async, [&packageFile] {
                         image::Checksum sum;
                         sum.add(packageFile.data(), packageFile.size());
                         return sum;
                     }).share();
    const Package package = Package::read(packageFile);
    for (const PackageChecks::Finding& finding :
         PackageChecks::run(package, "package " + quoted(options.package), options.package,
                            ExistingFile::isFile)) {
        if (finding.refusal) {
            throw ToolError(finding.message);
        }
        warnings.push_back(finding.message);
    }
    CheckedStub stub = checkStub(stubFile);

    std::unique_ptr<InputFile> iconFile;
    std::unique_ptr<image::PeFile> iconProgram;
    std::unique_ptr<image::IconResources> icon;
    if (!options.icon.empty()) {
        iconFile.reset(new InputFile(options.icon, "icon"));
        try {
            icon = readIcon(image::ByteView(iconFile->data(), iconFile->size()), iconProgram);
        } catch (const image::FormatError& e) {
            throw ToolError("icon " + quoted(options.icon) +
                            " is not a usable .ico file or program icon: " + e.what());
        }
    } else {
        icon = packageIcon(package, options.package, iconProgram, warnings);
    }

    const std::string shown =
        options.output.empty() ? defaultOutput(options.package) : options.output;
    const std::string output = ToolPlatform::absolutePath(shown);
    checkOutput(options, output, shown, stubPath);
    warnIfSigned(output, shown, warnings);

    const std::vector<std::uint8_t> version =
        versionResource(package.facts, output, options.package);
    WrapResult result;
    result.output = output;
    try {
        image::ResourceTree& tree = stub.resources;
        // Upper-case names: the loader looks text names up in upper case.
        tree.set(rcdata, u"MSI", image::languageNeutral,
                 image::ByteView(packageFile.data(), packageFile.size()));
        tree.set(rcdata, u"PRODUCT_CODE", image::languageNeutral,
                 image::ByteView(reinterpret_cast<const std::uint8_t*>(package.productCode.data()),
                                 package.productCode.size()));
        tree.set(image::ResourceType::version, 1, image::VersionInfo::language,
                 image::ByteView(version.data(), version.size()));
        if (icon) {
            icon->addTo(tree, 1, image::languageNeutral);
        }
        if (image::SetupWriter::outputSize(*stub.pe, tree) > image::SetupWriter::maxImageSize) {
            tooLarge(options.package, packageFile.size(), most);
        }
        // Everything goes to a sibling first: an existing output is only ever
        // replaced by a complete setup program.
        OutputFile out(shown);
        out.copiesFrom(packageFile);
        image::SetupWriter::write(*stub.pe, tree, out, &packageSum);
        result.bytes = out.size();
        out.commit();
    } catch (const image::FormatError& e) {
        throw ToolError("cannot make a setup program of " + quoted(options.package) + ": " +
                        e.what());
    }
    return result;
}

void printJson(const WrapResult& result, const std::vector<std::string>& warnings) {
    JsonWriter json;
    json.beginObject();
    json.key("output").value(result.output);
    json.key("bytes").value(static_cast<std::int64_t>(result.bytes));
    json.key("warnings").beginArray();
    for (const std::string& warning : warnings) {
        json.value(warning);
    }
    json.endArray();
    json.endObject();
    CommandOutput::printJson(json);
}

}  // namespace WrapCommand
