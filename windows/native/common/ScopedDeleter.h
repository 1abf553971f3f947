#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "FileUtils.h"
#include "tstrings.h"

namespace FileUtils {

// Paths to delete when the owner's scope ends, on success and on error alike.
// Files go first, then directory contents, then whole trees, then empty
// directories, so that an emptied directory can be removed last.
class ScopedDeleter {
public:
    enum EntryKind : std::int32_t {
        File = 0,
        FilesInDirectory = 1,
        DirectoryTree = 2,
        EmptyDirectory = 3,
    };

    ScopedDeleter() = default;
    ~ScopedDeleter();

    ScopedDeleter(ScopedDeleter&& other) noexcept : entries(std::move(other.entries)) {
        other.entries.clear();
    }
    ScopedDeleter(const ScopedDeleter&) = delete;
    ScopedDeleter& operator=(const ScopedDeleter&) = delete;

    ScopedDeleter& addFile(const tstring& path) { return add(path, File); }
    ScopedDeleter& addFilesInDirectory(const tstring& dir) { return add(dir, FilesInDirectory); }
    ScopedDeleter& addDirectoryTree(const tstring& dir) { return add(dir, DirectoryTree); }
    ScopedDeleter& addEmptyDirectory(const tstring& dir) { return add(dir, EmptyDirectory); }

    // Every level from the pair's directory up to, not including, its base,
    // deepest first and in lower case: the directories a creation below the
    // base may have made.
    ScopedDeleter& addEmptyDirectoryChain(const DirectoryPair& pair);

    // Deletes what it can, forgets every entry and never raises.
    void execute() noexcept;

    // Forgets every entry without deleting anything.
    void cancel() noexcept { entries.clear(); }

    const std::vector<std::pair<tstring, EntryKind>>& items() const { return entries; }

private:
    ScopedDeleter& add(const tstring& path, EntryKind kind) {
        entries.emplace_back(path, kind);
        return *this;
    }

    std::vector<std::pair<tstring, EntryKind>> entries;
};

}  // namespace FileUtils
