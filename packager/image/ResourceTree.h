#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "ByteView.h"

namespace image {

class PeFile;

// The resource types the tool reads and writes.
namespace ResourceType {
const std::uint16_t icon = 3;
const std::uint16_t rcdata = 10;
const std::uint16_t groupIcon = 14;
const std::uint16_t version = 16;
const std::uint16_t manifest = 24;
}  // namespace ResourceType

// LANG_NEUTRAL/SUBLANG_NEUTRAL and en-US.
const std::uint16_t languageNeutral = 0;
const std::uint16_t languageEnglishUs = 0x409;

// One level of the resource tree is named by a number or by a text. Texts
// are kept as stored; the loader looks them up in upper case, so a writer
// gives them in upper case.
struct ResourceKey {
    ResourceKey(std::uint16_t id) : id(id) {}
    ResourceKey(std::u16string text) : text(std::move(text)) {}
    ResourceKey(const char16_t* text) : text(text) {}

    bool isId() const noexcept { return text.empty(); }
    // Texts first, by their UTF-16 units, then numbers ascending: the order
    // the loader's binary search expects.
    bool operator<(const ResourceKey& other) const noexcept;
    bool operator==(const ResourceKey& other) const noexcept;
    // "#10" or the text in UTF-8, for messages.
    std::string str() const;

    std::uint16_t id = 0;
    std::u16string text;
};

// An executable's resources as type -> name -> language -> bytes. The bytes
// are views: of the image read, or of whatever the caller added, which must
// stay valid while the tree is used.
class ResourceTree {
public:
    typedef std::map<std::uint16_t, ByteView> Languages;
    typedef std::map<ResourceKey, Languages> Names;
    typedef std::map<ResourceKey, Names> Types;

    ResourceTree() = default;

    // Reads the tree the image's resource directory points at (an image
    // without one has an empty tree). The walk is linear in the section's
    // size: a directory is entered once (one reached twice is refused, which
    // also refuses cycles), the depth is the format's three levels, and the
    // entries read may not exceed what the section can hold. Every data entry
    // must lie inside a section's raw data and the file. Each directory must
    // be in the order Windows' lookup searches it (its header's count of
    // entries named by texts, those first, then numbers, each strictly
    // ascending as ResourceKey orders them), so that the loader finds what
    // this reader finds. Raises FormatError.
    static ResourceTree read(const PeFile& image);

    const Types& types() const noexcept { return all; }
    bool has(const ResourceKey& type, const ResourceKey& name) const;
    // The bytes of the first language of (type, name), or null when absent.
    const ByteView* find(const ResourceKey& type, const ResourceKey& name) const;
    // The same, for a resource that must be there in one language only:
    // raises FormatError when it is there in several, since Windows' lookup
    // chooses among them by the user's language.
    const ByteView* findOnly(const ResourceKey& type, const ResourceKey& name) const;
    // The first name of a type, or null when the type has none.
    const ResourceKey* firstName(const ResourceKey& type) const;

    // Adds or replaces one resource; the bytes are not copied. Raises
    // FormatError for data of 4 GiB or more, which no data entry can hold.
    void set(const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
             ByteView data);

private:
    Types all;
};

}  // namespace image
