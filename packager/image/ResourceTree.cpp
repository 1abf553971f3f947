#include "ResourceTree.h"

#include <iterator>
#include <set>
#include <string>

#include "FormatError.h"
#include "PeFile.h"
#include "Utf16.h"

namespace image {

namespace {

const std::uint32_t highBit = 0x80000000u;
const std::uint64_t directoryHeaderSize = 16;
const std::uint64_t entrySize = 8;
const std::uint64_t dataEntrySize = 16;
// The tree's levels: type, name, language.
const int levels = 3;
const char* const levelNames[levels] = {"resource type", "resource name", "language"};

// Reads one resource tree, entering each directory once and charging every
// byte it reads against a budget of a few times the section's size, so that
// overlapping directories or names shared by many entries cannot make the
// walk longer than linear in the section.
class TreeReader {
public:
    TreeReader(const PeFile& image, std::uint32_t rootRva) : image(image) {
        const PeFile::Section* s = image.sectionAt(rootRva);
        if (!s) {
            throw FormatError("the resource directory at RVA " + hex(rootRva) +
                              " lies outside the sections' data in the file");
        }
        const ByteView raw = image.rawData(*s);
        const std::uint64_t into = rootRva - s->virtualAddress;
        tree = ByteView(raw.data() + into, raw.size() - into);
        fileBase = s->pointerToRawData + into;
        budget = 4 * tree.size() + 4096;
    }

    void readInto(ResourceTree::Types& types) {
        // Empty directories leave no trace, as a writer would not write them.
        for (const auto& type : entries(0, 0)) {
            for (const auto& name : entries(type.target, 1)) {
                for (const auto& language : entries(name.target, 2)) {
                    types[type.key][name.key][language.key.id] = data(language.target);
                }
            }
        }
    }

private:
    struct Entry {
        ResourceKey key;
        std::uint32_t target;
    };

    void need(std::uint64_t offset, std::uint64_t size, const char* what) {
        if (!tree.contains(offset, size)) {
            throw FormatError(std::string(what) + " at " + hex(fileBase + offset) + " (" +
                              hex(size) + " bytes) lies outside the resource section");
        }
        if (size > budget) {
            throw FormatError("the resource tree refers to more entries and names than its " +
                              hex(tree.size()) + "-byte section holds (they overlap)");
        }
        budget -= size;
    }

    std::vector<Entry> entries(std::uint32_t offset, int level) {
        if (!entered.insert(offset).second) {
            throw FormatError("the resource directory at " + hex(fileBase + offset) +
                              " is reached twice (shared or in a cycle)");
        }
        need(offset, directoryHeaderSize, "a resource directory");
        const std::uint64_t named = ByteView::le16(tree.data() + offset + 12);
        const std::uint64_t count = named + ByteView::le16(tree.data() + offset + 14);
        need(offset + directoryHeaderSize, entrySize * count, "a resource directory's entries");
        std::vector<Entry> out;
        out.reserve(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* p = tree.data() + offset + directoryHeaderSize + entrySize * i;
            const std::uint32_t name = ByteView::le32(p);
            const std::uint32_t target = ByteView::le32(p + 4);
            const bool leaf = level == levels - 1;
            if (((target & highBit) == 0) != leaf) {
                throw FormatError("the resource tree at " + hex(fileBase + offset) +
                                  (leaf ? " goes deeper than type, name and language"
                                        : " ends before type, name and language"));
            }
            if (((name & highBit) != 0) != (i < named)) {
                throw FormatError(
                    "the resource directory at " + hex(fileBase + offset) + " counts " +
                    std::to_string(named) + " entries named by a text first, but its entry " +
                    std::to_string(i) + " is named by a " + (i < named ? "number" : "text") +
                    ": Windows' lookup would not find it");
            }
            out.push_back(Entry{key(name, level), target & ~highBit});
            if (i != 0 && !(out[i - 1].key < out[i].key)) {
                const bool twice = out[i - 1].key == out[i].key;
                throw FormatError(
                    "the resource directory at " + hex(fileBase + offset) + " lists the " +
                    levelNames[level] + " " + out[i].key.str() +
                    (twice ? " twice" : " after " + out[i - 1].key.str()) +
                    ": Windows' lookup, a binary search of the texts by their UTF-16 units and "
                    "then of the numbers, would " +
                    (twice ? "find only one" : "miss entries"));
            }
        }
        return out;
    }

    ResourceKey key(std::uint32_t name, int level) {
        if (name & highBit) {
            if (level == levels - 1) {
                throw FormatError("a resource language in the directory at " + hex(fileBase) +
                                  " is named by a text, not a number");
            }
            const std::uint32_t at = name & ~highBit;
            need(at, 2, "a resource name");
            const std::uint16_t length = ByteView::le16(tree.data() + at);
            need(at + 2, 2ull * length, "a resource name");
            std::u16string text(length, u'\0');
            for (std::uint16_t i = 0; i < length; ++i) {
                text[i] = static_cast<char16_t>(ByteView::le16(tree.data() + at + 2 + 2 * i));
            }
            if (text.empty()) {
                throw FormatError("a resource name at " + hex(fileBase + at) + " is empty");
            }
            // The lookup compares names as NUL-terminated texts.
            if (text.find(u'\0') != std::u16string::npos) {
                throw FormatError("a resource name at " + hex(fileBase + at) +
                                  " holds a NUL: Windows' lookup would read it shorter");
            }
            return ResourceKey(std::move(text));
        }
        if (name > 0xffff) {
            throw FormatError("a resource id " + hex(name) + " is out of range");
        }
        return ResourceKey(static_cast<std::uint16_t>(name));
    }

    ByteView data(std::uint32_t offset) {
        need(offset, dataEntrySize, "a resource data entry");
        const std::uint32_t rva = ByteView::le32(tree.data() + offset);
        const std::uint32_t size = ByteView::le32(tree.data() + offset + 4);
        return image.atRva(rva, size, "a resource's data");
    }

    const PeFile& image;
    ByteView tree;
    std::uint64_t fileBase = 0;
    std::uint64_t budget = 0;
    std::set<std::uint32_t> entered;
};

}  // namespace

bool ResourceKey::operator<(const ResourceKey& other) const noexcept {
    if (isId() != other.isId()) {
        return !isId();
    }
    return isId() ? id < other.id : text < other.text;
}

bool ResourceKey::operator==(const ResourceKey& other) const noexcept {
    return id == other.id && text == other.text;
}

std::string ResourceKey::str() const {
    return isId() ? "#" + std::to_string(id) : Utf16::toUtf8(text);
}

ResourceTree ResourceTree::read(const PeFile& image) {
    ResourceTree out;
    const PeFile::DataDirectory d = image.directory(PeFile::resourceDirectory);
    if (d.rva != 0 && d.size != 0) {
        TreeReader(image, d.rva).readInto(out.all);
    }
    return out;
}

bool ResourceTree::has(const ResourceKey& type, const ResourceKey& name) const {
    return find(type, name) != nullptr;
}

const ByteView* ResourceTree::find(const ResourceKey& type, const ResourceKey& name) const {
    const auto t = all.find(type);
    if (t == all.end()) {
        return nullptr;
    }
    const auto n = t->second.find(name);
    if (n == t->second.end() || n->second.empty()) {
        return nullptr;
    }
    return &n->second.begin()->second;
}

const ByteView* ResourceTree::findOnly(const ResourceKey& type, const ResourceKey& name) const {
    const ByteView* first = find(type, name);
    if (first) {
        const Languages& languages = all.at(type).at(name);
        if (languages.size() > 1) {
            throw FormatError("the resource " + name.str() + " of type " + type.str() +
                              " is there in " + std::to_string(languages.size()) + " languages (" +
                              hex(languages.begin()->first) + ", " +
                              hex(std::next(languages.begin())->first) +
                              (languages.size() > 2 ? ", ..." : "") +
                              "): which one Windows' lookup takes depends on the user's language");
        }
    }
    return first;
}

const ResourceKey* ResourceTree::firstName(const ResourceKey& type) const {
    const auto t = all.find(type);
    if (t == all.end()) {
        return nullptr;
    }
    for (const auto& name : t->second) {
        if (!name.second.empty()) {
            return &name.first;
        }
    }
    return nullptr;
}

void ResourceTree::set(const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                       ByteView data) {
    if (data.size() > 0xffffffffull) {
        throw FormatError("resource " + name.str() + " is too large (" +
                          std::to_string(data.size()) + " bytes)");
    }
    all[type][name][language] = data;
}

}  // namespace image
