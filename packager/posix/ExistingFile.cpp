#include "ExistingFile.h"

#include <sys/stat.h>

namespace ExistingFile {

bool isReadOnly(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
}

}  // namespace ExistingFile
