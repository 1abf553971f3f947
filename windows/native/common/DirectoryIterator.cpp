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
    if (isRecursive) {
        DirectoryIterator(path)
            .recursive(isRecursive)
            .withFiles(includeFiles)
            .withFolders(includeFolders)
            .findItems(items);
    }
    return true;
}

}  // namespace FileUtils
