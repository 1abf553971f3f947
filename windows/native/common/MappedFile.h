#pragma once

#include <windows.h>

#include <cstdint>

#include "UniqueHandle.h"
#include "tstrings.h"

// A whole file mapped read-only into memory; the view lives as long as the
// object. An empty file has no view: data() is null and size() 0.
class MappedFile {
public:
    explicit MappedFile(const tstring& path);
    // Maps a file the caller holds open for reading; `path` only names it in
    // errors. The handle must stay open for as long as this object lives.
    MappedFile(HANDLE file, const tstring& path);

    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const std::uint8_t* data() const noexcept {
        return static_cast<const std::uint8_t*>(view.get());
    }
    std::uint64_t size() const noexcept { return fileSize; }

private:
    void map(HANDLE source, const tstring& path);

    // Declared in the order they are made: the view goes before the mapping,
    // the mapping before the file.
    UniqueHandle file;
    UniqueHandle mapping;
    UniqueMappedView view;
    std::uint64_t fileSize = 0;
};
