#pragma once

#include <glib-object.h>

#include <memory>

// Owners of what libmsi hands out through GLib: objects (databases, queries,
// records, streams) and errors.
namespace GlibOwners {

struct ObjectRelease {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Object = std::unique_ptr<T, ObjectRelease>;

struct ErrorRelease {
    void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorRelease>;

}  // namespace GlibOwners
