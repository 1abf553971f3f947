#pragma once

#include <string>

// What the tool asks of a file it is about to replace.
namespace ExistingFile {

// Whether the file's own mode (POSIX: no write permission bit; Windows: the
// read-only attribute) says it is not to be written, whoever runs the tool:
// a user who made an output read-only meant it to stay.
bool isReadOnly(const std::string& path);

// Whether the path names something that is neither a file nor a folder: a
// device, a pipe, a socket. An output never replaces one, whatever the user
// says: writing a file in its place would take it away from whoever uses it.
bool isSpecial(const std::string& path);

// Whether a file (not a folder or a device) is there under this name.
bool isFile(const std::string& path);

}  // namespace ExistingFile
