#include "DetailsReader.h"

#include <glib.h>

#include <cstdlib>
#include <memory>

#include "GlibOwners.h"

namespace DetailsReader {

namespace {

using GlibOwners::Error;
using GlibOwners::Object;

std::string fieldText(LibmsiRecord* record, guint field) {
    if (libmsi_record_is_null(record, field)) {
        return std::string();
    }
    const std::unique_ptr<gchar, decltype(&g_free)> text(libmsi_record_get_string(record, field),
                                                         &g_free);
    return text ? std::string(text.get()) : std::string();
}

// Every row of a query without parameters; nothing when the library refuses
// it (a package without the table).
template <typename Row>
void select(LibmsiDatabase* db, const char* sql, Row row) {
    GError* raw = nullptr;
    const Object<LibmsiQuery> query(libmsi_query_new(db, sql, &raw));
    Error error(raw);
    if (!query) {
        return;
    }
    raw = nullptr;
    if (!libmsi_query_execute(query.get(), nullptr, &raw)) {
        error.reset(raw);
        return;
    }
    for (;;) {
        raw = nullptr;
        const Object<LibmsiRecord> record(libmsi_query_fetch(query.get(), &raw));
        error.reset(raw);
        if (!record) {
            break;
        }
        row(record.get());
    }
    libmsi_query_close(query.get(), nullptr);
}

std::int64_t summaryNumber(LibmsiSummaryInfo* info, LibmsiProperty property) {
    GError* raw = nullptr;
    const LibmsiPropertyType type = libmsi_summary_info_get_property_type(info, property, &raw);
    Error error(raw);
    if (type != LIBMSI_PROPERTY_TYPE_INT) {
        return -1;
    }
    raw = nullptr;
    const gint value = libmsi_summary_info_get_int(info, property, &raw);
    error.reset(raw);
    return error ? -1 : value;
}

}  // namespace

PackageDetails read(LibmsiDatabase* db) {
    PackageDetails details;
    const std::pair<const char*, std::string*> wanted[] = {
        {"UpgradeCode", &details.upgradeCode},
        {"ALLUSERS", &details.allUsers},
        {"MSIINSTALLPERUSER", &details.installPerUser},
    };
    select(db, "SELECT `Property`, `Value` FROM `Property`", [&](LibmsiRecord* record) {
        const std::string name = fieldText(record, 1);
        for (const auto& property : wanted) {
            if (name == property.first) {
                *property.second = fieldText(record, 2);
            }
        }
    });
    select(db, "SELECT `Cabinet` FROM `Media` ORDER BY `DiskId`",
           [&](LibmsiRecord* record) { details.cabinets.push_back(fieldText(record, 1)); });
    select(db, "SELECT `FileName`, `Attributes` FROM `File` ORDER BY `Sequence`",
           [&](LibmsiRecord* record) {
               PackageDetails::File file;
               file.name = fieldText(record, 1);
               file.attributes =
                   libmsi_record_is_null(record, 2) ? 0 : libmsi_record_get_int(record, 2);
               details.files.push_back(file);
           });

    GError* raw = nullptr;
    const Object<LibmsiSummaryInfo> info(libmsi_summary_info_new(db, 0, &raw));
    const Error error(raw);
    if (info) {
        GError* rawText = nullptr;
        if (libmsi_summary_info_get_property_type(info.get(), LIBMSI_PROPERTY_TEMPLATE, &rawText) ==
            LIBMSI_PROPERTY_TYPE_STRING) {
            const Error ignored(rawText);
            rawText = nullptr;
            const gchar* text =
                libmsi_summary_info_get_string(info.get(), LIBMSI_PROPERTY_TEMPLATE, &rawText);
            const Error textError(rawText);
            details.summaryTemplate = text ? text : "";
        } else {
            const Error ignored(rawText);
        }
        details.pageCount = summaryNumber(info.get(), LIBMSI_PROPERTY_VERSION);
        details.wordCount = summaryNumber(info.get(), LIBMSI_PROPERTY_SOURCE);
    }
    return details;
}

}  // namespace DetailsReader
