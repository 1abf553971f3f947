#pragma once

#include <string>

#include "PackageReader.h"

// The package's facts through Debian's libmsi, in this process. Only the
// reader process calls it: libmsi trusts the file it is given.
namespace LibmsiReader {

// `path` names the package (/proc/self/fd/N for one held open). A refusal's
// words follow the package's name ("cannot be opened as ...").
PackageFacts read(const std::string& path);

}  // namespace LibmsiReader
