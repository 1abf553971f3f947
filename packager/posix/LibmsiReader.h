#pragma once

#include <string>

#include "PackageReader.h"

// The package's facts through Debian's libmsi, in this process. Only the
// reader process calls it: libmsi trusts the file it is given.
namespace LibmsiReader {

// `path` names the package (/proc/self/fd/N for one held open); `label`
// begins every message ("package 'x.msi'").
PackageFacts read(const std::string& path, const std::string& label);

}  // namespace LibmsiReader
