#include "PackageChecks.h"

#include <algorithm>
#include <set>

#include "FactsWitness.h"
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

// A hint names this many cabinets or files, then how many more there are.
const std::size_t namesListed = 3;
// Beyond this many cabinets the command to embed them is no line to paste.
const std::size_t cabinetsInCommand = 8;

// "'a', 'b', 'c' and 2 more": the first names of `total`.
std::string listOf(const std::vector<std::string>& first, std::size_t total) {
    std::string list;
    for (std::size_t i = 0; i < first.size() && i < namesListed; ++i) {
        list += (i == 0 ? "" : ", ") + quoted(FactsWitness::shown(first[i]));
    }
    if (total > namesListed) {
        list += " and " + std::to_string(total - namesListed) + " more";
    }
    return list;
}

std::string listOf(const std::vector<std::string>& names) {
    return listOf(names, names.size());
}

// The names in their first order, each once.
std::vector<std::string> uniqueNames(const std::vector<const std::string*>& names) {
    std::vector<std::string> unique;
    std::set<std::string> seen;
    for (const std::string* name : names) {
        if (seen.insert(*name).second) {
            unique.push_back(*name);
        }
    }
    return unique;
}

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

// The cabinets beside the package, each once.
std::vector<std::string> externalCabinets(const PackageDetails& details) {
    std::vector<const std::string*> names;
    for (const PackageDetails::Media& media : details.media) {
        if (!media.cabinet.empty() && media.cabinet[0] != '#') {
            names.push_back(&media.cabinet);
        }
    }
    return uniqueNames(names);
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
// holding a quote or a control character cannot stand in its query, and too
// many make no command to paste.
std::string embedCommand(const std::vector<std::string>& cabinets, const std::string& path) {
    if (path.empty() || cabinets.size() > cabinetsInCommand) {
        return std::string();
    }
    const std::string folder = path.substr(0, path.size() - ToolPaths::nameOf(path).size());
    std::string command = "msibuild " + shellWord(path, true);
    for (const std::string& cabinet : cabinets) {
        for (const char c : cabinet) {
            if (c == '\'' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                return std::string();
            }
        }
        command += " -a " + shellWord(cabinet, false) + " " + shellWord(folder + cabinet, true);
    }
    for (const std::string& cabinet : cabinets) {
        command += " -q " + shellWord("UPDATE Media SET Cabinet='#" + cabinet +
                                          "' WHERE Cabinet='" + cabinet + "'",
                                      false);
    }
    return command;
}

std::string externalCabinetHint(const std::vector<std::string>& cabinets, const std::string& owner,
                                const std::string& path,
                                const std::function<bool(const std::string&)>& isFile) {
    const bool one = cabinets.size() == 1;
    // wixl writes no cabinet for <Media EmbedCab="no">, and msibuild adds a
    // file that is not there without a word: no command, then, but the way
    // to make the cabinet.
    if (!path.empty() && isFile) {
        const std::string folder = path.substr(0, path.size() - ToolPaths::nameOf(path).size());
        for (const std::string& cabinet : cabinets) {
            if (!isFile(folder + cabinet)) {
                return owner + " installs from the cabinet" + (one ? " " : "s ") +
                       listOf(cabinets) +
                       ", which a setup program does not carry and which is not beside it (" +
                       quoted(cabinet) +
                       " is missing; wixl writes none for EmbedCab=\"no\"): build the package "
                       "again with WiX's <Media ... EmbedCab=\"yes\">";
            }
        }
    }
    // The command comes last, so that it can be taken to the end of the line.
    std::string hint = owner + " installs from the cabinet" + (one ? " " : "s ") +
                       listOf(cabinets) +
                       " beside it, which a setup program does not carry: embed " +
                       (one ? "it" : "them") + " with WiX's <Media ... EmbedCab=\"yes\">";
    const std::string command = embedCommand(cabinets, path);
    return command.empty() ? hint : hint + ", or run: " + command;
}

// "#name" rows whose stream the package does not hold under exactly that
// name: Windows Installer looks for no other.
void requireEmbeddedCabinets(const PackageDetails& details, const std::string& owner,
                             std::vector<Finding>& findings) {
    std::vector<const std::string*> missing;
    for (const PackageDetails::Media& media : details.media) {
        if (!media.cabinet.empty() && media.cabinet[0] == '#' && !media.streamFound) {
            missing.push_back(&media.cabinet);
        }
    }
    if (missing.empty()) {
        return;
    }
    const std::vector<std::string> names = uniqueNames(missing);
    findings.push_back(
        {true, "embedded-cabinet-missing",
         owner + " installs from the embedded cabinet" + (names.size() == 1 ? " " : "s ") +
             listOf(names) +
             " but holds no stream of exactly that name, the only one Windows Installer "
             "takes: embed the cabinet under the name the Media table's Cabinet column gives "
             "(after its '#'), or give there the stream's exact name"});
}

// Where Windows Installer looks for a file: the first Media row by DiskId
// whose LastSequence is not below the file's Sequence. Compressed files need
// that row's cabinet; a file that no row covers cannot install.
void requireMediaForFiles(const PackageDetails& details, const std::string& owner,
                          std::vector<Finding>& findings) {
    std::vector<const PackageDetails::Media*> media;
    for (const PackageDetails::Media& row : details.media) {
        media.push_back(&row);
    }
    std::stable_sort(media.begin(), media.end(),
                     [](const auto* a, const auto* b) { return a->diskId < b->diskId; });
    // The greatest LastSequence up to each row: the first row that covers a
    // sequence is the first whose running greatest reaches it.
    std::vector<std::int64_t> reach;
    for (const PackageDetails::Media* row : media) {
        reach.push_back(reach.empty() ? row->lastSequence
                                      : std::max(reach.back(), row->lastSequence));
    }
    std::vector<const std::string*> uncovered;
    std::vector<const std::string*> withoutCabinet;
    std::int64_t lowestUncovered = 0;
    for (const PackageDetails::File& file : details.files) {
        const auto at = std::lower_bound(reach.begin(), reach.end(), file.sequence);
        if (at == reach.end()) {
            lowestUncovered =
                uncovered.empty() ? file.sequence : std::min(lowestUncovered, file.sequence);
            uncovered.push_back(&file.name);
        } else if (media[static_cast<std::size_t>(at - reach.begin())]->cabinet.empty() &&
                   !isUncompressed(details, file.attributes)) {
            withoutCabinet.push_back(&file.name);
        }
    }
    // The long names of the first files, for the message.
    const auto longNames = [](const std::vector<const std::string*>& names) {
        std::vector<std::string> first;
        for (std::size_t i = 0; i < names.size() && i < namesListed; ++i) {
            first.push_back(longName(*names[i]));
        }
        return listOf(first, names.size());
    };
    if (!uncovered.empty()) {
        const std::string covered =
            reach.empty() ? std::string("it has no Media row")
                          : "no LastSequence reaches beyond " + std::to_string(reach.back());
        findings.push_back(
            {true, "file-without-media",
             owner + " installs the file" + (uncovered.size() == 1 ? " " : "s ") +
                 longNames(uncovered) +
                 (uncovered.size() == 1 ? " (Sequence " : " (from Sequence ") +
                 std::to_string(lowestUncovered) + ") that no Media row covers (" + covered +
                 "): add a Media row, or raise a LastSequence to the greatest file Sequence "
                 "(WiX: a <Media> for every file's DiskId)"});
    }
    if (!withoutCabinet.empty()) {
        findings.push_back(
            {true, "compressed-without-cabinet",
             owner + " installs the compressed file" + (withoutCabinet.size() == 1 ? " " : "s ") +
                 longNames(withoutCabinet) +
                 " from a Media row without a cabinet: name the embedded cabinet that holds " +
                 (withoutCabinet.size() == 1 ? "it" : "them") +
                 " in that row's Cabinet column (WiX: <Media ... Cabinet=\"x.cab\" "
                 "EmbedCab=\"yes\">)"});
    }
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

std::vector<Finding> run(const Package& package, const std::string& owner, const std::string& path,
                         const std::function<bool(const std::string&)>& isFile) {
    const PackageDetails& details = package.facts.details;
    std::vector<Finding> findings;
    const std::vector<std::string> external = externalCabinets(details);
    if (!external.empty()) {
        findings.push_back(
            {true, "external-cabinet", externalCabinetHint(external, owner, path, isFile)});
    }
    requireEmbeddedCabinets(details, owner, findings);
    for (const PackageDetails::File& file : details.files) {
        if (isUncompressed(details, file.attributes)) {
            findings.push_back(
                {true, "uncompressed-files",
                 owner + " installs the file " + quoted(FactsWitness::shown(longName(file.name))) +
                     " uncompressed from beside it, which a setup program does not carry: "
                     "compress its files into an embedded cabinet (WiX: Compressed=\"yes\" on "
                     "Package and EmbedCab=\"yes\" on Media; msitools: word count 2 in the "
                     "Summary Information, no File attribute 0x2000)"});
            break;
        }
    }
    requireMediaForFiles(details, owner, findings);
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
    if (details.components64Bit > 0 && architecture(details) == "x86") {
        findings.push_back(
            {false, "64-bit-components-in-x86-package",
             owner + " has " + std::to_string(details.components64Bit) + " 64-bit component" +
                 (details.components64Bit == 1 ? "" : "s") +
                 " but is for x86: it installs, but Windows puts ProgramFiles64Folder's files "
                 "under ProgramFilesFolder and writes the 32-bit registry view: build it for "
                 "x64 (wixl -a x64, WiX: Platform=\"x64\")"});
    }
    if (details.textInMachineCodePage) {
        findings.push_back({false, "no-code-page",
                            owner +
                                " holds text beyond ASCII but names no code page: Windows reads "
                                "it in each machine's own, as shown here only where that is "
                                "Windows-1252; keep its text ASCII or set its code page (WiX: "
                                "Codepage on Product, which wixl does not write)"});
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
