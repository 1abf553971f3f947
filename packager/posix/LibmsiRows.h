#pragma once

#include <glib.h>
#include <libmsi.h>

#include <memory>
#include <string>

#include "GlibOwners.h"

// Reading rows of a package's tables through libmsi, for the two readers.
namespace LibmsiRows {

// A field's text; "" for a null field.
inline std::string fieldText(LibmsiRecord* record, guint field) {
    if (libmsi_record_is_null(record, field)) {
        return std::string();
    }
    const std::unique_ptr<gchar, decltype(&g_free)> text(libmsi_record_get_string(record, field),
                                                         &g_free);
    return text ? std::string(text.get()) : std::string();
}

// Runs a query with at most one string parameter and hands every row to `row`.
// Returns false when the library refuses the query (no such table, ...).
template <typename Row>
bool select(LibmsiDatabase* db, const char* sql, const std::string* parameter, Row row) {
    GError* raw = nullptr;
    const GlibOwners::Object<LibmsiQuery> query(libmsi_query_new(db, sql, &raw));
    GlibOwners::Error error(raw);
    if (!query) {
        return false;
    }
    GlibOwners::Object<LibmsiRecord> parameters;
    if (parameter) {
        parameters.reset(libmsi_record_new(1));
        libmsi_record_set_string(parameters.get(), 1, parameter->c_str());
    }
    raw = nullptr;
    if (!libmsi_query_execute(query.get(), parameters.get(), &raw)) {
        error.reset(raw);
        return false;
    }
    for (;;) {
        raw = nullptr;
        const GlibOwners::Object<LibmsiRecord> record(libmsi_query_fetch(query.get(), &raw));
        error.reset(raw);
        if (!record) {
            break;
        }
        row(record.get());
    }
    libmsi_query_close(query.get(), nullptr);
    return true;
}

}  // namespace LibmsiRows
