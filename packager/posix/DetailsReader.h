#pragma once

#include <libmsi.h>

#include "PackageDetails.h"

// The package's details through libmsi. Tables a package lacks leave their
// fields empty: the checks then have nothing to refuse.
namespace DetailsReader {

PackageDetails read(LibmsiDatabase* db);

}  // namespace DetailsReader
