#include "DetailsReader.h"

#include <glib.h>

#include <cstdlib>
#include <memory>

#include "GlibOwners.h"
#include "LibmsiRows.h"

namespace DetailsReader {

namespace {

using GlibOwners::Error;
using GlibOwners::Object;
using LibmsiRows::fieldText;
using LibmsiRows::select;

const std::int64_t component64Bit = 0x100;

// A null field reads as 0, as the installer reads it.
std::int64_t number(LibmsiRecord* record, guint field) {
    return libmsi_record_is_null(record, field) ? 0 : libmsi_record_get_int(record, field);
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
    select(db, "SELECT `Property`, `Value` FROM `Property`", nullptr, [&](LibmsiRecord* record) {
        const std::string name = fieldText(record, 1);
        for (const auto& property : wanted) {
            if (name == property.first) {
                *property.second = fieldText(record, 2);
            }
        }
    });
    select(db, "SELECT `DiskId`, `Cabinet`, `LastSequence` FROM `Media` ORDER BY `DiskId`", nullptr,
           [&](LibmsiRecord* record) {
               PackageDetails::Media media;
               media.diskId = number(record, 1);
               media.cabinet = fieldText(record, 2);
               media.lastSequence = number(record, 3);
               details.media.push_back(media);
           });
    select(db, "SELECT `FileName`, `Attributes`, `Sequence` FROM `File` ORDER BY `Sequence`",
           nullptr, [&](LibmsiRecord* record) {
               PackageDetails::File file;
               file.name = fieldText(record, 1);
               file.attributes = number(record, 2);
               file.sequence = number(record, 3);
               details.files.push_back(file);
           });
    select(db, "SELECT `Attributes` FROM `Component`", nullptr, [&](LibmsiRecord* record) {
        if (number(record, 1) & component64Bit) {
            ++details.components64Bit;
        }
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
