#include "IconGroup.h"

#include <cstring>

#include "ToolError.h"

namespace {

#pragma pack(push, 2)
struct IconDir {
    WORD reserved;
    WORD type;
    WORD count;
};
// What an .ico file and a group icon resource both record of one image.
struct IconImageInfo {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
};
// An image's entry in the .ico file, which places it by its offset.
struct IconDirEntry {
    IconImageInfo info;
    DWORD imageOffset;
};
// The same entry in a resource, where the image is named by its id.
struct GroupIconDirEntry {
    IconImageInfo info;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconDirEntry) == 16 && sizeof(GroupIconDirEntry) == 14,
              "the entries must keep the layout of the file formats");

template <class T>
void append(std::vector<std::uint8_t>& out, const T& value) {
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

}  // namespace

IconGroup::IconGroup(const std::vector<std::uint8_t>& ico, const tstring& source, WORD firstId)
    : first(firstId) {
    IconDir dir;
    if (ico.size() < sizeof(dir)) {
        BM_TOOL_FAIL("'" << source << "' is not an .ico file");
    }
    std::memcpy(&dir, ico.data(), sizeof(dir));
    if (dir.reserved != 0 || dir.type != 1 || dir.count == 0 ||
        ico.size() < sizeof(dir) + dir.count * sizeof(IconDirEntry)) {
        BM_TOOL_FAIL("'" << source << "' is not an .ico file");
    }
    append(directory, dir);
    for (WORD i = 0; i < dir.count; ++i) {
        IconDirEntry entry;
        std::memcpy(&entry, ico.data() + sizeof(dir) + i * sizeof(entry), sizeof(entry));
        const DWORD bytes = entry.info.bytesInRes;
        if (entry.imageOffset > ico.size() || bytes > ico.size() - entry.imageOffset ||
            bytes == 0) {
            BM_TOOL_FAIL("'" << source << "' is a damaged .ico file: image " << (i + 1)
                             << " lies outside the file");
        }
        imageData.emplace_back(ico.begin() + entry.imageOffset,
                               ico.begin() + entry.imageOffset + bytes);
        GroupIconDirEntry groupEntry;
        groupEntry.info = entry.info;
        groupEntry.id = static_cast<WORD>(firstId + i);
        append(directory, groupEntry);
    }
}
