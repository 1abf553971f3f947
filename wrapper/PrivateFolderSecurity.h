#pragma once

#include <windows.h>

#include "UniqueHandle.h"

namespace FileUtils {

// The security descriptor of a folder that only SYSTEM, the Administrators
// group and the current user may use, for an elevated process. The list is
// protected, so the parent passes nothing on, and the folder's files and
// subfolders inherit the same three entries. A High mandatory label (no write
// up) keeps out processes below High integrity, among them the user's own
// processes that are not elevated, which the user's entry would admit.
class PrivateFolderSecurity {
public:
    PrivateFolderSecurity();

    PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
    PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

    PSECURITY_DESCRIPTOR get() const { return descriptor.get(); }

private:
    UniqueLocalPtr<void> descriptor;
};

}  // namespace FileUtils
