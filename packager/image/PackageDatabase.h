#pragma once

#include <cstdint>

#include "FormatError.h"
#include "PackageFacts.h"
#include "StreamSource.h"

namespace image {

// The facts of an installer package, read from its tables and its Summary
// Information by the image core alone: the one reading both tools print and
// check. Only a package in a form that every conforming reader reads the same
// way passes; anything two readers could read differently is refused.
namespace PackageDatabase {

// `data`/`size` is a whole compound file that CompoundFile::check found to be
// an installer package. Raises InstallerTables::DatabaseError (a FormatError)
// with one line saying what is ambiguous or damaged, without the file's name.
PackageFacts read(const std::uint8_t* data, std::uint64_t size);
// The same from the root storage's streams.
PackageFacts read(const StreamSource& streams);

}  // namespace PackageDatabase
}  // namespace image
