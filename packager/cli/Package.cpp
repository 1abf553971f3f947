#include "Package.h"

#include "CompoundFile.h"
#include "FactsWire.h"
#include "FactsWitness.h"
#include "FormatError.h"
#include "InputFile.h"
#include "InstallerTables.h"
#include "PackageDatabase.h"
#include "ProductCode.h"
#include "ToolError.h"

PackageFacts Package::readFacts(const std::uint8_t* data, std::uint64_t size,
                                const std::string& subject) {
    try {
        return image::PackageDatabase::read(data, size);
    } catch (const image::FormatError& e) {
        throw ToolError(subject + " is a damaged installer database: " + e.what());
    }
}

Package Package::fromFacts(PackageFacts facts, std::uint64_t size, const std::string& owner,
                           const std::function<PackageFacts()>& witness) {
    Package package;
    if (facts.productCode.empty()) {
        throw ToolError(owner + " has no ProductCode property");
    }
    // The installer itself insists on the braced form.
    if (!ProductCode::isBraced(facts.productCode)) {
        throw ToolError(owner + " has a ProductCode that is no GUID: " +
                        quoted(ProductCode::visible(facts.productCode)));
    }
    // The witness must be able to answer with the same facts; what it cannot
    // is refused before it starts, in the core's words, not as its failure.
    const std::string over = FactsWire::overLimit(facts);
    if (!over.empty()) {
        throw ToolError(owner + " holds more than the installer library may answer: " + over);
    }
    FactsWitness::compare(facts, witness(), owner);
    package.productCode = ProductCode::canonical(facts.productCode);
    package.facts = std::move(facts);
    package.size = size;
    return package;
}

void Package::requireInstallerDatabase(const std::uint8_t* data, std::uint64_t size,
                                       const std::string& subject) {
    using image::CompoundFile::Kind;
    if (!image::CompoundFile::hasSignature(data, size)) {
        throw ToolError(subject + " is not a Windows Installer package");
    }
    Kind kind = Kind::Other;
    try {
        kind = image::CompoundFile::check(data, size);
    } catch (const image::InstallerTables::DatabaseError& e) {
        throw ToolError(subject + " is a damaged installer database: " + e.what());
    } catch (const image::FormatError& e) {
        throw ToolError(subject + " is a damaged compound file, no installer package: " + e.what());
    }
    switch (kind) {
        case Kind::Package:
            return;
        case Kind::Patch:
            throw ToolError(subject + " is a patch (.msp), not an installer package");
        case Kind::Transform:
            throw ToolError(subject + " is a transform (.mst), not an installer package");
        case Kind::Other:
            break;
    }
    throw ToolError(subject + " is a compound file but not a Windows Installer package");
}

Package Package::read(const InputFile& file) {
    const std::string& path = file.path();
    requireInstallerDatabase(file.data(), file.size(), quoted(path));
    const std::string owner = "package " + quoted(path);
    return fromFacts(readFacts(file.data(), file.size(), quoted(path)), file.size(), owner,
                     [&] { return PackageReader::read(file, owner); });
}

Package Package::readEmbedded(const InputFile& setup, std::uint64_t offset, std::uint64_t size) {
    const std::string subject = "the package inside " + quoted(setup.path());
    requireInstallerDatabase(setup.data() + offset, size, subject);
    return fromFacts(readFacts(setup.data() + offset, size, subject), size, subject,
                     [&] { return PackageReader::read(setup, offset, size, subject); });
}
