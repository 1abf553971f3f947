#include "PackageReport.h"

#include <algorithm>

#include "CommandOutput.h"
#include "CompoundStreams.h"
#include "ExistingFile.h"
#include "JsonWriter.h"
#include "ToolError.h"
#include "ToolPlatform.h"

namespace {

void printField(const std::string& name, const std::string& value) {
    std::string padded = name + ":";
    padded.resize(std::max<std::size_t>(padded.size() + 1, 24), ' ');
    ToolPlatform::printOut(padded + value);
}

// "(not set)" for a property the package leaves empty.
std::string orUnset(const std::string& value) {
    return value.empty() ? "(not set)" : value;
}

std::string versionText(std::int64_t pageCount) {
    if (pageCount < 0) {
        return "(not set)";
    }
    return std::to_string(pageCount / 100) + "." + std::to_string(pageCount % 100 / 10) + " (" +
           std::to_string(pageCount) + ")";
}

std::string scopeText(const PackageDetails& details) {
    std::string why =
        details.allUsers.empty() ? "ALLUSERS not set" : "ALLUSERS=" + details.allUsers;
    if (!details.installPerUser.empty()) {
        why += ", MSIINSTALLPERUSER=" + details.installPerUser;
    }
    return PackageChecks::installScope(details) + " (" + why + ")";
}

void valueOrNull(JsonWriter& json, const std::string& value) {
    if (value.empty()) {
        json.null();
    } else {
        json.value(value);
    }
}

}  // namespace

PackageReport::PackageReport(const std::string& path, const Package& package,
                             const std::uint8_t* bytes, std::uint64_t size, bool setupProgram)
    : path(path), setupProgram(setupProgram), package(&package) {
    packageSigned = image::CompoundStreams::has(bytes, size,
                                                u"\x05"
                                                u"DigitalSignature");
    findings = PackageChecks::run(
        package, setupProgram ? "the package inside " + quoted(path) : "package " + quoted(path),
        setupProgram ? std::string() : path, ExistingFile::isFile);
}

void PackageReport::printText() const {
    const PackageFacts& facts = package->facts;
    const PackageDetails& details = facts.details;
    printField("File", quoted(path) + (setupProgram ? " (setup program)" : " (installer package)"));
    printField("Product code", package->productCode);
    printField("Product name", facts.productName);
    printField("Product version", facts.productVersion);
    printField("Manufacturer", facts.manufacturer);
    printField("Package size", std::to_string(package->size) + " bytes");
    printField("Architecture", PackageChecks::architecture(details) + " (template " +
                                   quoted(details.summaryTemplate) + ")");
    printField("Installer version", versionText(details.pageCount));
    printField("UpgradeCode", orUnset(details.upgradeCode));
    printField("Install scope", scopeText(details));
    // Seen only: its digest covers the package's streams, which are not read.
    printField("Package signature", packageSigned ? "Authenticode, not checked" : "none");
    if (setupProgram) {
        printField("Setup signature", setupSignature.words());
        printField("Embedded product code",
                   embeddedProductCode +
                       (productCodeMatches ? " (matches the package)" : " (DOES NOT match)"));
    }
    if (findings.empty()) {
        printField("Checks", "passed");
    }
    for (const PackageChecks::Finding& finding : findings) {
        printField(finding.refusal ? "Refused" : "Warning", finding.message);
    }
}

void PackageReport::printJson() const {
    const PackageFacts& facts = package->facts;
    const PackageDetails& details = facts.details;
    JsonWriter json;
    json.beginObject();
    json.key("file").value(path);
    json.key("kind").value(setupProgram ? "setup program" : "installer package");
    json.key("product_code").value(package->productCode);
    json.key("product_name").value(facts.productName);
    json.key("product_version").value(facts.productVersion);
    json.key("manufacturer").value(facts.manufacturer);
    json.key("package_size").value(static_cast<std::int64_t>(package->size));
    json.key("architecture").value(PackageChecks::architecture(details));
    json.key("template").value(details.summaryTemplate);
    json.key("installer_version");
    if (details.pageCount < 0) {
        json.null();
    } else {
        json.value(details.pageCount);
    }
    json.key("upgrade_code");
    valueOrNull(json, details.upgradeCode);
    json.key("install_scope").value(PackageChecks::installScope(details));
    json.key("ALLUSERS");
    valueOrNull(json, details.allUsers);
    json.key("MSIINSTALLPERUSER");
    valueOrNull(json, details.installPerUser);
    json.key("package_signed").value(packageSigned);
    if (setupProgram) {
        json.key("setup_signed").value(setupSigned);
        json.key("setup_signature");
        if (setupSignature.state == SetupSignature::State::none) {
            json.null();
        } else {
            json.beginObject();
            json.key("kind").value("Authenticode");
            json.key("intact").value(setupSignature.state == SetupSignature::State::intact);
            if (setupSignature.state != SetupSignature::State::intact) {
                json.key("problem").value(setupSignature.words());
            }
            json.endObject();
        }
        json.key("embedded_product_code").value(embeddedProductCode);
        json.key("product_code_matches").value(productCodeMatches);
    }
    bool installable = true;
    for (const PackageChecks::Finding& finding : findings) {
        installable = installable && !finding.refusal;
    }
    json.key("checks");
    writeChecks(json, findings);
    json.key("installable").value(installable);
    if (!mismatch.empty()) {
        json.key("error").value(mismatch);
        json.key("exit").value(std::int64_t(1));
    }
    json.endObject();
    CommandOutput::printJson(json);
}

void PackageReport::writeChecks(JsonWriter& json,
                                const std::vector<PackageChecks::Finding>& findings) {
    json.beginArray();
    for (const PackageChecks::Finding& finding : findings) {
        json.beginObject();
        json.key("id").value(finding.id);
        json.key("level").value(finding.refusal ? "refusal" : "warning");
        json.key("message").value(finding.message);
        json.endObject();
    }
    json.endArray();
}
