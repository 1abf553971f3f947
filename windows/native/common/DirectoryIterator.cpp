#include "DirectoryIterator.h"

namespace FileUtils {

tstring_array& DirectoryIterator::findItems(tstring_array& out) {
    if (!isDirectory(root)) {
        return out;
    }
    iterateDirectory(root, *this);
    out.insert(out.end(), items.begin(), items.end());
    items.clear();
    return out;
}

bool DirectoryIterator::onFile(const tstring& path) {
    if (includeFiles) {
        items.push_back(path);
    }
    return true;
}

bool DirectoryIterator::onDirectory(const tstring& path) {
    if (includeFolders) {
        items.push_back(path);
    }
    // A link is listed, not entered: it may lead out of the tree or back up
    // into it, without end.
    const DWORD attrs = GetFileAttributesW(path.c_str());
    const bool isLink =
        attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (isRecursive && !isLink) {
        DirectoryIterator(path)
            .recursive(isRecursive)
            .withFiles(includeFiles)
            .withFolders(includeFolders)
            .findItems(items);
    }
    return true;
}

}  // namespace FileUtils
