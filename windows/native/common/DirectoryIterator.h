#pragma once

#include "WinFileUtils.h"
#include "tstrings.h"

namespace FileUtils {

// Collects the paths below a root directory: files, folders or both, one
// level or the whole tree, each folder followed by its own contents. Directory
// links are collected as folders but not entered.
class DirectoryIterator : public DirectoryCallback {
public:
    explicit DirectoryIterator(const tstring& root) : root(root) {}

    DirectoryIterator& recursive(bool value) {
        isRecursive = value;
        return *this;
    }
    DirectoryIterator& withFiles(bool value) {
        includeFiles = value;
        return *this;
    }
    DirectoryIterator& withFolders(bool value) {
        includeFolders = value;
        return *this;
    }

    // Appends what it finds to `out`; a root that is not a directory adds nothing.
    tstring_array& findItems(tstring_array& out);

    bool onFile(const tstring& path) override;
    bool onDirectory(const tstring& path) override;

private:
    bool isRecursive = true;
    bool includeFiles = true;
    bool includeFolders = true;
    tstring root;
    tstring_array items;
};

}  // namespace FileUtils
