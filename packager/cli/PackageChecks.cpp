#include "PackageChecks.h"

#include <algorithm>

#include "ToolError.h"
#include "ToolPaths.h"

namespace PackageChecks {

namespace {

// Summary Information word count flags and File table attributes.
const std::int64_t compressedSource = 0x2;
const std::int64_t administrativeImage = 0x4;
const std::int64_t fileNoncompressed = 0x2000;
const std::int64_t fileCompressed = 0x4000;

// Below this the installer refuses any 64-bit package (status 1620).
const std::int64_t least64BitInstaller = 200;

std::string templatePlatform(const PackageDetails& details) {
    const std::string& text = details.summaryTemplate;
    return text.substr(0, text.find(';'));
}

// The long name of "SHORT~1.TXT|long name.txt".
std::string longName(const std::string& fileName) {
    const std::size_t bar = fileName.find('|');
    return bar == std::string::npos ? fileName : fileName.substr(bar + 1);
}

bool isUncompressed(const PackageDetails& details, std::int64_t attributes) {
    if (attributes & fileNoncompressed) {
        return true;
    }
    if (attributes & fileCompressed) {
        return false;
    }
    // A missing word count reads as 0, as the installer reads it.
    const std::int64_t flags = details.wordCount < 0 ? 0 : details.wordCount;
    return (flags & administrativeImage) || !(flags & compressedSource);
}

std::string versionText(std::int64_t pageCount) {
    return std::to_string(pageCount / 100) + "." + std::to_string(pageCount % 100 / 10);
}

bool hasLowerCaseDigit(const std::string& text) {
    for (const char c : text) {
        if (c >= 'a' && c <= 'f') {
            return true;
        }
    }
    return false;
}

std::vector<PackageDetails::Media> externalMedia(const PackageDetails& details) {
    std::vector<PackageDetails::Media> external;
    for (const PackageDetails::Media& media : details.media) {
        if (!media.cabinet.empty() && media.cabinet[0] != '#') {
            external.push_back(media);
        }
    }
    return external;
}

// The word as a POSIX shell reads it back; paths are always quoted, as the
// tool quotes every path it prints.
std::string shellWord(const std::string& word, bool path) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789._+,:/=@%-") == std::string::npos;
    if (plain && !path) {
        return word;
    }
    if (word.find('\'') == std::string::npos) {
        return "'" + word + "'";
    }
    if (word.find_first_of("$`\\\"!") == std::string::npos) {
        return "\"" + word + "\"";
    }
    std::string quotedWord = "'";
    for (const char c : word) {
        quotedWord += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quotedWord + "'";
}

// The msitools command that embeds the cabinets, taken from beside the
// package, into it; empty where no such command can be written: a name
// holding a quote or a control character cannot stand in its query.
std::string embedCommand(const std::vector<PackageDetails::Media>& external,
                         const std::string& path) {
    if (path.empty()) {
        return std::string();
    }
    const std::string folder = path.substr(0, path.size() - ToolPaths::nameOf(path).size());
    std::string command = "msibuild " + shellWord(path, true);
    std::vector<std::string> added;
    for (const PackageDetails::Media& media : external) {
        for (const char c : media.cabinet) {
            if (c == '\'' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                return std::string();
            }
        }
        if (std::find(added.begin(), added.end(), media.cabinet) == added.end()) {
            command += " -a " + shellWord(media.cabinet, false) + " " +
                       shellWord(folder + media.cabinet, true);
            added.push_back(media.cabinet);
        }
    }
    for (const PackageDetails::Media& media : external) {
        command += " -q " + shellWord("UPDATE Media SET Cabinet='#" + media.cabinet +
                                          "' WHERE DiskId=" + std::to_string(media.diskId),
                                      false);
    }
    return command;
}

std::string externalCabinetHint(const std::vector<PackageDetails::Media>& external,
                                const std::string& owner, const std::string& path) {
    std::string names;
    std::vector<std::string> listed;
    for (const PackageDetails::Media& media : external) {
        if (std::find(listed.begin(), listed.end(), media.cabinet) == listed.end()) {
            names += (listed.empty() ? "" : ", ") + quoted(media.cabinet);
            listed.push_back(media.cabinet);
        }
    }
    const bool one = listed.size() == 1;
    // The command comes last, so that it can be taken to the end of the line.
    std::string hint = owner + " installs from the cabinet" + (one ? " " : "s ") + names +
                       " beside it, which a setup program does not carry: embed " +
                       (one ? "it" : "them") + " with WiX's <Media ... EmbedCab=\"yes\">";
    const std::string command = embedCommand(external, path);
    return command.empty() ? hint : hint + ", or run: " + command;
}

}  // namespace

std::string architecture(const PackageDetails& details) {
    const std::string platform = templatePlatform(details);
    if (platform.empty() || platform == "Intel") {
        return "x86";
    }
    if (platform == "x64" || platform == "AMD64") {
        return "x64";
    }
    if (platform == "Intel64") {
        return "Itanium";
    }
    return platform;
}

bool is64Bit(const PackageDetails& details) {
    const std::string platform = architecture(details);
    return platform == "x64" || platform == "Arm64" || platform == "Itanium";
}

std::string installScope(const PackageDetails& details) {
    if (details.allUsers.empty()) {
        return "per-user";
    }
    if (details.allUsers == "2") {
        return details.installPerUser == "1" ? "per-user or per-machine" : "per-machine";
    }
    return "per-machine";
}

std::vector<Finding> run(const Package& package, const std::string& owner,
                         const std::string& path) {
    const PackageDetails& details = package.facts.details;
    std::vector<Finding> findings;
    const std::vector<PackageDetails::Media> external = externalMedia(details);
    if (!external.empty()) {
        findings.push_back({true, "external-cabinet", externalCabinetHint(external, owner, path)});
    }
    for (const PackageDetails::File& file : details.files) {
        if (isUncompressed(details, file.attributes)) {
            findings.push_back(
                {true, "uncompressed-files",
                 owner + " installs the file " + quoted(longName(file.name)) +
                     " uncompressed from beside it, which a setup program does not carry: "
                     "compress its files into an embedded cabinet (WiX: Compressed=\"yes\" on "
                     "Package and EmbedCab=\"yes\" on Media; msitools: word count 2 in the "
                     "Summary Information, no File attribute 0x2000)"});
            break;
        }
    }
    if (is64Bit(details) && details.pageCount < least64BitInstaller) {
        const std::string asked = details.pageCount < 0
                                      ? "no installer version"
                                      : "Windows Installer " + versionText(details.pageCount) +
                                            " (" + std::to_string(details.pageCount) + ")";
        findings.push_back({true, "installer-version",
                            owner + " is for " + architecture(details) + " but asks for " + asked +
                                ", which cannot install 64-bit packages (status 1620): set "
                                "InstallerVersion=\"200\" or higher (WiX: on Package; "
                                "msitools: the Summary Information's page count)"});
    }
    if (hasLowerCaseDigit(package.facts.productCode)) {
        findings.push_back({false, "product-code-case",
                            owner +
                                " has its ProductCode in lower case, where Windows Installer "
                                "expects upper case; the setup program carries " +
                                quoted(package.productCode) + " (upper-case it in the package)"});
    }
    return findings;
}

}  // namespace PackageChecks
