#include "ExistingFile.h"

#include <vector>

#include "WinTool.h"

namespace ExistingFile {

bool isReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WinTool::wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool isSpecial(const std::string& path) {
    // Devices (NUL, CON, COM1, a pipe) are names in the device namespace,
    // which is where the system resolves them to.
    std::vector<wchar_t> full(32768);
    const DWORD length = GetFullPathNameW(WinTool::wide(path).c_str(),
                                          static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        return false;
    }
    const std::wstring resolved(full.data(), length);
    return resolved.compare(0, 4, L"\\\\.\\") == 0;
}

bool isFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WinTool::wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !isSpecial(path);
}

}  // namespace ExistingFile
