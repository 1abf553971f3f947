#include "FactsWitness.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "ProductCode.h"
#include "ToolError.h"

namespace FactsWitness {

namespace {

const std::size_t shownBytes = 64;

[[noreturn]] void ambiguous(const std::string& read, const std::string& place,
                            const std::string& source, const std::string& held) {
    throw ToolError("the installer library reads " + read + " in " + place + " where " + source +
                    " holds " + held + ": the package is ambiguous");
}

std::string text(const std::string& value) {
    return quoted(shown(value));
}

std::string number(std::int64_t value) {
    return value < 0 ? "none" : std::to_string(value);
}

void sameText(const char* name, const std::string& core, const std::string& library,
              const std::string& place, const std::string& source) {
    if (core != library) {
        ambiguous(std::string(name) + " " + text(library), place, source, text(core));
    }
}

void sameNumber(const char* name, std::int64_t core, std::int64_t library, const std::string& place,
                const std::string& source) {
    if (core != library) {
        ambiguous(std::string(name) + " " + number(library), place, source, number(core));
    }
}

void sameCount(const char* rows, std::size_t core, std::size_t library, const std::string& label,
               const std::string& source) {
    if (core != library) {
        ambiguous(std::to_string(library) + " " + rows, label, source, std::to_string(core));
    }
}

// Rows in one order: by key, then by every other field, so that rows that
// share a key (which the core refuses where it matters) compare too.
template <typename Row, typename Fields>
std::vector<const Row*> inOrder(const std::vector<Row>& rows, Fields fields) {
    std::vector<const Row*> sorted;
    sorted.reserve(rows.size());
    for (const Row& row : rows) {
        sorted.push_back(&row);
    }
    std::sort(sorted.begin(), sorted.end(),
              [&](const Row* a, const Row* b) { return fields(*a) < fields(*b); });
    return sorted;
}

std::vector<const PackageDetails::Media*> inOrder(const std::vector<PackageDetails::Media>& rows) {
    return inOrder(rows, [](const PackageDetails::Media& m) {
        return std::tie(m.diskId, m.cabinet, m.lastSequence);
    });
}

std::vector<const PackageDetails::File*> inOrder(const std::vector<PackageDetails::File>& rows) {
    return inOrder(rows, [](const PackageDetails::File& f) {
        return std::tie(f.sequence, f.name, f.attributes);
    });
}

void sameMedia(const PackageDetails& core, const PackageDetails& library,
               const std::string& label) {
    const std::string source = "the Media table";
    sameCount("Media rows", core.media.size(), library.media.size(), label, source);
    const auto ours = inOrder(core.media);
    const auto theirs = inOrder(library.media);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const std::string place = "Media row " + std::to_string(i + 1) + " of " + label;
        sameNumber("DiskId", ours[i]->diskId, theirs[i]->diskId, place, source);
        sameText("Cabinet", ours[i]->cabinet, theirs[i]->cabinet, place, source);
        sameNumber("LastSequence", ours[i]->lastSequence, theirs[i]->lastSequence, place, source);
    }
}

void sameFiles(const PackageDetails& core, const PackageDetails& library,
               const std::string& label) {
    const std::string source = "the File table";
    sameCount("File rows", core.files.size(), library.files.size(), label, source);
    const auto ours = inOrder(core.files);
    const auto theirs = inOrder(library.files);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const std::string place =
            "File row " + std::to_string(i + 1) + " (by Sequence) of " + label;
        sameNumber("Sequence", ours[i]->sequence, theirs[i]->sequence, place, source);
        sameText("FileName", ours[i]->name, theirs[i]->name, place, source);
        sameNumber("Attributes", ours[i]->attributes, theirs[i]->attributes, place, source);
    }
}

void sameIcon(const PackageFacts& core, const PackageFacts& library, const std::string& label) {
    if (core.icon == library.icon) {
        return;
    }
    const bool sameSize = core.icon.size() == library.icon.size();
    ambiguous(
        "the icon " + text(core.iconName) + " as " + std::to_string(library.icon.size()) + " bytes",
        label, "the Icon table",
        std::to_string(core.icon.size()) + (sameSize ? " other bytes" : " bytes"));
}

}  // namespace

void compare(const PackageFacts& core, const PackageFacts& library, const std::string& label) {
    const std::string properties = "the Property table";
    sameText("ProductCode", core.productCode, library.productCode, label, properties);
    sameText("ProductName", core.productName, library.productName, label, properties);
    sameText("ProductVersion", core.productVersion, library.productVersion, label, properties);
    sameText("Manufacturer", core.manufacturer, library.manufacturer, label, properties);
    sameText("ARPPRODUCTICON", core.iconName, library.iconName, label, properties);
    const PackageDetails& ours = core.details;
    const PackageDetails& theirs = library.details;
    sameText("UpgradeCode", ours.upgradeCode, theirs.upgradeCode, label, properties);
    sameText("ALLUSERS", ours.allUsers, theirs.allUsers, label, properties);
    sameText("MSIINSTALLPERUSER", ours.installPerUser, theirs.installPerUser, label, properties);
    const std::string summary = "the Summary Information";
    sameText("the template", ours.summaryTemplate, theirs.summaryTemplate, label, summary);
    sameNumber("the page count", ours.pageCount, theirs.pageCount, label, summary);
    sameNumber("the word count", ours.wordCount, theirs.wordCount, label, summary);
    sameIcon(core, library, label);
    sameMedia(ours, theirs, label);
    sameFiles(ours, theirs, label);
    sameCount("64-bit components", static_cast<std::size_t>(ours.components64Bit),
              static_cast<std::size_t>(theirs.components64Bit), label, "the Component table");
}

std::string shown(const std::string& text) {
    if (text.size() <= shownBytes) {
        return ProductCode::visible(text);
    }
    std::size_t end = shownBytes;
    // Back to the start of the character the cut falls in.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return ProductCode::visible(text.substr(0, end)) + "...";
}

}  // namespace FactsWitness
