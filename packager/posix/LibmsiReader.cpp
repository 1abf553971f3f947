#include "LibmsiReader.h"

#include <errno.h>
#include <glib.h>
#include <libmsi.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "DetailsReader.h"
#include "GlibOwners.h"
#include "LibmsiRows.h"
#include "SystemError.h"
#include "ToolError.h"

namespace LibmsiReader {

namespace {

using GlibOwners::Error;
using GlibOwners::Object;
using LibmsiRows::fieldText;
using LibmsiRows::select;

// The stream's bytes; no stream in a package is longer than the package.
std::vector<std::uint8_t> readStream(LibmsiRecord* record, guint field, std::uint64_t limit) {
    const Object<GInputStream> stream(libmsi_record_get_stream(record, field));
    std::vector<std::uint8_t> bytes;
    if (!stream) {
        return bytes;
    }
    std::uint8_t buffer[65536];
    for (;;) {
        GError* raw = nullptr;
        const gssize got = g_input_stream_read(stream.get(), buffer, sizeof(buffer), nullptr, &raw);
        const Error error(raw);
        if (got < 0) {
            return {};
        }
        if (got == 0) {
            return bytes;
        }
        if (bytes.size() + static_cast<std::uint64_t>(got) > limit) {
            return {};
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
}

}  // namespace

PackageFacts read(const std::string& path) {
    struct stat info;
    const std::uint64_t fileSize =
        stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;

    GError* raw = nullptr;
    const Object<LibmsiDatabase> db(
        libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &raw));
    const Error error(raw);
    if (!db) {
        throw ToolError(std::string("cannot be opened as an installer database: ") +
                        (error && error->message ? error->message : "the library refuses it"));
    }

    PackageFacts facts;
    const std::pair<const char*, std::string*> wanted[] = {
        {"ProductCode", &facts.productCode},       {"ProductName", &facts.productName},
        {"ProductVersion", &facts.productVersion}, {"Manufacturer", &facts.manufacturer},
        {"ARPPRODUCTICON", &facts.iconName},
    };
    // A package without a readable Property table has no ProductCode, which
    // the command line reports, as the Windows tool does.
    select(db.get(), "SELECT `Property`, `Value` FROM `Property`", nullptr,
           [&](LibmsiRecord* record) {
               const std::string name = fieldText(record, 1);
               for (const auto& property : wanted) {
                   if (name == property.first) {
                       *property.second = fieldText(record, 2);
                   }
               }
           });

    // A missing Icon table or row leaves the icon empty; the command line
    // says that it cannot be used.
    if (!facts.iconName.empty()) {
        select(db.get(), "SELECT `Data` FROM `Icon` WHERE `Name` = ?", &facts.iconName,
               [&](LibmsiRecord* record) {
                   if (facts.icon.empty()) {
                       facts.icon = readStream(record, 1, fileSize);
                   }
               });
    }
    facts.details = DetailsReader::read(db.get());
    return facts;
}

}  // namespace LibmsiReader
