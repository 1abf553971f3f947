#pragma once

#include <windows.h>

#include "UniqueHandle.h"

namespace FileUtils {

// Security attributes for a folder that only SYSTEM, the Administrators group
// and the current user may use. The list is protected, so the parent passes
// nothing on, and the folder's files and subfolders inherit the same three
// entries.
class PrivateFolderSecurity {
public:
    PrivateFolderSecurity();

    PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
    PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

    LPSECURITY_ATTRIBUTES get() { return &attributes; }

private:
    UniqueLocalPtr<void> descriptor;
    SECURITY_ATTRIBUTES attributes = {};
};

}  // namespace FileUtils
