#pragma once

#include "MsiDb.h"
#include "PackageDetails.h"

// The package's details through msi.dll. Tables a package lacks leave their
// fields empty: the checks then have nothing to refuse.
namespace DetailsReader {

PackageDetails read(const msi::Database& db);

}  // namespace DetailsReader
