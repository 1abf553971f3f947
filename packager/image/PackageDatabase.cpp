#include "PackageDatabase.h"

#include <algorithm>
#include <unordered_set>

#include "CompoundFile.h"
#include "InstallerTables.h"
#include "SummaryInformation.h"
#include "TableCatalogue.h"
#include "Utf16.h"

namespace image {
namespace PackageDatabase {

namespace {

using Kind = TableCatalogue::Kind;
using Rows = TableCatalogue::Rows;

const char16_t kSummaryStream[] = u"\x05SummaryInformation";

// The longest file or cabinet name taken, in stored bytes: a "short|long"
// file name is at most 268 characters. Many rows may name one string; the
// facts copy it for each, so its length bounds what they take beside the
// package.
constexpr std::uint64_t kLongestName = 1024;

std::string num(std::uint64_t value) {
    return std::to_string(value);
}

[[noreturn]] void fail(const std::string& message) {
    throw InstallerTables::DatabaseError(message);
}

class Reader {
public:
    explicit Reader(const StreamSource& streams)
        : streams(streams), catalogue(streams), pool(catalogue.strings()) {}

    PackageFacts run() {
        readProperties();
        readIcon();
        readMedia();
        readFiles();
        readComponents();
        readSummary();
        facts.details.textInMachineCodePage = pool.textInMachineCodePage();
        return std::move(facts);
    }

private:
    const StreamSource& streams;
    const TableCatalogue catalogue;
    const StringPool& pool;
    PackageFacts facts;
    std::uint32_t iconId = 0;

    // A string the facts hold: a NUL inside it is where libmsi ends it and
    // Windows Installer does not.
    void checkNul(std::uint32_t id, const std::string& what) const {
        if (pool.hasNul(id)) {
            fail(what + " " + pool.shown(id) +
                 " holds a NUL, where some installer libraries end it");
        }
    }

    std::string text(std::uint32_t id, const std::string& what) const {
        checkNul(id, what);
        return pool.utf8(id);
    }

    std::string name(const Rows& rows, std::uint64_t row, std::size_t column,
                     const std::string& what) const {
        const std::uint32_t id = rows.string(row, column);
        if (pool.bytes(id).size() > kLongestName) {
            fail("the " + rows.table() + " table's row " + num(row + 1) + " gives a " + what +
                 " of " + num(pool.bytes(id).size()) + " bytes, longer than any name (" +
                 num(kLongestName) + ")");
        }
        return text(id, "the " + rows.table() + " table's " + what);
    }

    // The key of each row once, compared as text: of two rows with one key,
    // each reader keeps another.
    std::uint32_t key(const Rows& rows, std::uint64_t row, std::size_t column,
                      std::unordered_set<std::uint32_t>& keys) const {
        const std::uint32_t id = rows.string(row, column);
        const std::string where = "the " + rows.table() + " table's row " + num(row + 1);
        if (id == 0) {
            fail(where + " has no key");
        }
        checkNul(id, where + "'s key");
        if (pool.storedTwice(id)) {
            fail(where + "'s key " + pool.shown(id) +
                 " is stored twice in the string pool: installer libraries look a key up by "
                 "one copy of its text");
        }
        if (!keys.insert(pool.canonical(id)).second) {
            fail("the " + rows.table() + " table holds the key " + pool.shown(id) + " twice");
        }
        return id;
    }

    std::int64_t number(const Rows& rows, std::uint64_t row, std::size_t column,
                        const char* name) const {
        std::int64_t value = 0;
        if (!rows.integer(row, column, value)) {
            fail("the " + rows.table() + " table's row " + num(row + 1) + " has no " + name);
        }
        return value;
    }

    // Windows Installer takes a stream by the name the libraries encode from
    // the decoded text; a stream of a near name is not it.
    bool hasStream(const std::string& utf8) const {
        std::uint64_t bytes = 0;
        return streams.size(InstallerTables::encodeName(Utf16::fromUtf8(utf8), false), bytes);
    }

    void readProperties() {
        const Rows rows = catalogue.rows("Property");
        if (!rows.listed()) {
            return;
        }
        const std::size_t name = rows.column("Property", Kind::String);
        const std::size_t value = rows.column("Value", Kind::String);
        const std::pair<const char*, std::string*> wanted[] = {
            {"ProductCode", &facts.productCode},
            {"ProductName", &facts.productName},
            {"ProductVersion", &facts.productVersion},
            {"Manufacturer", &facts.manufacturer},
            {"ARPPRODUCTICON", &facts.iconName},
            {"UpgradeCode", &facts.details.upgradeCode},
            {"ALLUSERS", &facts.details.allUsers},
            {"MSIINSTALLPERUSER", &facts.details.installPerUser},
        };
        std::unordered_set<std::uint32_t> keys;
        for (std::uint64_t r = 0; r < rows.count(); ++r) {
            const std::uint32_t id = key(rows, r, name, keys);
            for (const auto& property : wanted) {
                if (pool.bytes(id) == property.first) {
                    const std::uint32_t v = rows.string(r, value);
                    *property.second = text(v, std::string("the value of ") + property.first);
                    if (property.second == &facts.iconName) {
                        iconId = v;
                    }
                }
            }
        }
    }

    void readIcon() {
        if (facts.iconName.empty()) {
            return;
        }
        const Rows rows = catalogue.rows("Icon");
        if (!rows.listed()) {
            return;
        }
        const std::size_t name = rows.column("Name", Kind::String);
        rows.column("Data", Kind::Stream);
        std::unordered_set<std::uint32_t> keys;
        for (std::uint64_t r = 0; r < rows.count(); ++r) {
            const std::uint32_t id = key(rows, r, name, keys);
            if (pool.canonical(id) == pool.canonical(iconId)) {
                // A stream column's stream is named after the table and the
                // row's key.
                facts.icon = streams.read(
                    InstallerTables::encodeName(Utf16::fromUtf8("Icon." + pool.utf8(id)), false));
            }
        }
    }

    void readMedia() {
        const Rows rows = catalogue.rows("Media");
        if (!rows.listed()) {
            return;
        }
        const std::size_t diskId = rows.column("DiskId", Kind::Integer);
        const std::size_t lastSequence = rows.column("LastSequence", Kind::Integer);
        const std::size_t cabinet = rows.column("Cabinet", Kind::String);
        std::unordered_set<std::int64_t> disks;
        for (std::uint64_t r = 0; r < rows.count(); ++r) {
            PackageDetails::Media media;
            media.diskId = number(rows, r, diskId, "DiskId");
            if (!disks.insert(media.diskId).second) {
                fail("the Media table holds the key " + num(media.diskId) + " twice");
            }
            media.lastSequence = number(rows, r, lastSequence, "LastSequence");
            media.cabinet = name(rows, r, cabinet, "cabinet");
            if (media.cabinet.size() > 1 && media.cabinet[0] == '#') {
                media.streamFound = hasStream(media.cabinet.substr(1));
            }
            facts.details.media.push_back(std::move(media));
        }
        std::sort(facts.details.media.begin(), facts.details.media.end(),
                  [](const PackageDetails::Media& a, const PackageDetails::Media& b) {
                      return a.diskId < b.diskId;
                  });
    }

    void readFiles() {
        const Rows rows = catalogue.rows("File");
        if (!rows.listed()) {
            return;
        }
        const std::size_t file = rows.column("File", Kind::String);
        const std::size_t fileName = rows.column("FileName", Kind::String);
        const std::size_t attributes = rows.column("Attributes", Kind::Integer);
        const std::size_t sequence = rows.column("Sequence", Kind::Integer);
        std::unordered_set<std::uint32_t> keys;
        for (std::uint64_t r = 0; r < rows.count(); ++r) {
            key(rows, r, file, keys);
            PackageDetails::File f;
            f.name = name(rows, r, fileName, "file name");
            if (!rows.integer(r, attributes, f.attributes)) {
                f.attributes = 0;
            }
            f.sequence = number(rows, r, sequence, "Sequence");
            facts.details.files.push_back(std::move(f));
        }
        std::stable_sort(facts.details.files.begin(), facts.details.files.end(),
                         [](const PackageDetails::File& a, const PackageDetails::File& b) {
                             return a.sequence < b.sequence;
                         });
    }

    void readComponents() {
        const Rows rows = catalogue.rows("Component");
        if (!rows.listed()) {
            return;
        }
        const std::size_t component = rows.column("Component", Kind::String);
        const std::size_t attributes = rows.column("Attributes", Kind::Integer);
        std::unordered_set<std::uint32_t> keys;
        for (std::uint64_t r = 0; r < rows.count(); ++r) {
            key(rows, r, component, keys);
            std::int64_t value = 0;
            if (rows.integer(r, attributes, value) && (value & 0x100) != 0) {
                ++facts.details.components64Bit;
            }
        }
    }

    // Without the stream the libraries read no template and no numbers.
    void readSummary() {
        std::uint64_t bytes = 0;
        if (!streams.size(kSummaryStream, bytes)) {
            return;
        }
        const SummaryInformation::Values values =
            SummaryInformation::read(streams.read(kSummaryStream));
        facts.details.summaryTemplate = values.summaryTemplate;
        facts.details.pageCount = values.pageCount;
        facts.details.wordCount = values.wordCount;
    }
};

}  // namespace

PackageFacts read(const std::uint8_t* data, std::uint64_t size) {
    return read(CompoundFile::rootStreams(data, size));
}

PackageFacts read(const StreamSource& streams) {
    return Reader(streams).run();
}

}  // namespace PackageDatabase
}  // namespace image
