#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <vector>

#include "tstrings.h"

// An x64 executable whose resources are rewritten in one pass: the image is
// copied, the new resource tree (the old resources and the added ones) goes
// into a section appended at its end, and the resource directory entry is
// pointed at it. The package bytes are streamed from wherever they lie, so a
// package of hundreds of megabytes costs about as much as copying it.
//
// Compared with BeginUpdateResourceW and friends this writes the same bytes
// on every run (Wine's updater does too, but needs three copies of the data
// in memory and fails on images near 2 GiB).
class ResourceImage {
public:
    // One level of the resource tree is named by an id or by a text (stored
    // as given: Windows looks text names up in upper case).
    struct Key {
        Key(WORD id) : id(id) {}
        Key(LPCWSTR value);
        Key(const tstring& text) : text(text) {}

        bool isId() const { return text.empty(); }
        // Texts first, by their characters, then ids ascending, as the loader
        // expects them.
        bool operator<(const Key& other) const;
        tstring str() const;

        WORD id = 0;
        tstring text;
    };

    // Takes the image's bytes; raises when it is no PE32+ image or its
    // resources cannot be read.
    explicit ResourceImage(std::vector<std::uint8_t> image);

    ResourceImage(const ResourceImage&) = delete;
    ResourceImage& operator=(const ResourceImage&) = delete;

    bool has(const Key& type, const Key& name) const;

    // Adds or replaces one resource. The bytes are not copied: they must stay
    // valid until write() returns.
    void set(const Key& type, const Key& name, WORD language, const void* data, std::uint64_t size);

    // Writes the whole executable, with its checksum, to `path`, replacing
    // whatever the file held.
    void write(const tstring& path) const;

private:
    struct Data {
        const std::uint8_t* bytes;
        std::uint64_t size;
    };
    typedef std::map<WORD, Data> Languages;
    typedef std::map<Key, Languages> Names;
    typedef std::map<Key, Names> Types;

    void readTree(DWORD rsrcRva, DWORD rsrcSize);
    size_t rvaToOffset(DWORD rva, DWORD size) const;

    std::vector<std::uint8_t> image;
    Types types;
};
