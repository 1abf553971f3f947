#include "ExistingFile.h"

#include "WinTool.h"

namespace ExistingFile {

bool isReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WinTool::wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace ExistingFile
