#pragma once

#include <string>

#include "PackageReader.h"

// The package's facts through msi.dll, in this process. Only the reader
// process calls it: msi.dll trusts the file it is given.
namespace MsiReader {

// `path` names the package. A refusal's words follow the package's name
// ("cannot be opened as ...").
PackageFacts read(const std::string& path);

}  // namespace MsiReader
