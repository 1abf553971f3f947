#include "ScopedDeleter.h"

#include <algorithm>

#include "ErrorHandling.h"
#include "WinFileUtils.h"

namespace FileUtils {

ScopedDeleter::~ScopedDeleter() {
    execute();
}

ScopedDeleter& ScopedDeleter::addEmptyDirectoryChain(const DirectoryPair& pair) {
    tstring current = normalizePath(stripTrailingSeparators(joinPath(pair.base, pair.path)));
    const tstring stop = normalizePath(stripTrailingSeparators(pair.base));
    // A path outside the base never meets it; running out of levels ends the chain.
    while (current != stop && !current.empty()) {
        addEmptyDirectory(current);
        current = dirname(current);
    }
    return *this;
}

void ScopedDeleter::execute() noexcept {
    // Taken out first, so that a second run finds nothing to do.
    std::vector<std::pair<tstring, EntryKind>> work;
    work.swap(entries);
    std::stable_sort(work.begin(), work.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& entry : work) {
        try {
            switch (entry.second) {
                case File:
                    deleteFile(entry.first, std::nothrow);
                    break;
                case FilesInDirectory:
                    deleteFilesInDirectory(entry.first, std::nothrow);
                    break;
                case DirectoryTree:
                    deleteDirectoryRecursive(entry.first, std::nothrow);
                    break;
                case EmptyDirectory:
                    deleteDirectory(entry.first, std::nothrow);
                    break;
            }
        }
        BM_GUARD_CATCH
    }
}

}  // namespace FileUtils
