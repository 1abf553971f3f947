#pragma once

#include <string>

// What the tool asks of a file it is about to replace.
namespace ExistingFile {

// Whether the file's own mode (POSIX: no write permission bit; Windows: the
// read-only attribute) says it is not to be written, whoever runs the tool:
// a user who made an output read-only meant it to stay.
bool isReadOnly(const std::string& path);

}  // namespace ExistingFile
