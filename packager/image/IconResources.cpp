#include "IconResources.h"

#include <cstring>
#include <string>

#include "FormatError.h"
#include "PeFile.h"
#include "ResourceTree.h"

namespace image {

namespace {

// Both an .ico file and a group resource start with reserved 0, type 1 and
// the number of images; each image is then described by 12 bytes (width,
// height, colours, reserved, planes, bits, size) followed by its offset in
// the file (4 bytes) or its RT_ICON id in a resource (2 bytes).
const std::uint64_t headerSize = 6;
const std::uint64_t infoSize = 12;
const std::uint64_t icoEntrySize = infoSize + 4;
const std::uint64_t groupEntrySize = infoSize + 2;

std::uint16_t imageCount(ByteView bytes, std::uint64_t entrySize, const char* what) {
    if (bytes.size() < headerSize || ByteView::le16(bytes.data()) != 0 ||
        ByteView::le16(bytes.data() + 2) != 1) {
        throw FormatError(std::string("it is not ") + what);
    }
    const std::uint16_t count = ByteView::le16(bytes.data() + 4);
    if (count == 0) {
        throw FormatError(std::string("it is ") + what + " without images");
    }
    if (!bytes.contains(headerSize, entrySize * count)) {
        throw FormatError(std::string("the directory of its ") + std::to_string(count) +
                          " images runs past the end of " + what);
    }
    return count;
}

// Windows draws an icon image from a PNG or from a device-independent bitmap
// whose header comes first; anything else it may misread.
bool isIconImage(ByteView image) {
    static const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (image.size() >= sizeof(png) && std::memcmp(image.data(), png, sizeof(png)) == 0) {
        return true;
    }
    return image.size() >= 40 && ByteView::le32(image.data()) >= 40 &&
           ByteView::le32(image.data()) <= image.size();
}

}  // namespace

IconResources::IconResources(std::uint16_t firstId, std::uint16_t count) : first(firstId) {
    if (std::uint32_t(firstId) + count > 0x10000) {
        throw FormatError("its " + std::to_string(count) +
                          " images need more icon ids than remain");
    }
    directory.resize(headerSize);
    putLe16(&directory[2], 1);
    putLe16(&directory[4], count);
}

void IconResources::add(const std::uint8_t* info, ByteView data) {
    const std::size_t at = directory.size();
    directory.resize(at + groupEntrySize);
    std::memcpy(&directory[at], info, infoSize);
    // The size the group records is the image's own, whatever it said.
    putLe32(&directory[at + 8], static_cast<std::uint32_t>(data.size()));
    putLe16(&directory[at + infoSize], static_cast<std::uint16_t>(first + imageData.size()));
    imageData.push_back(data);
}

IconResources IconResources::fromIco(ByteView ico, std::uint16_t firstId) {
    const std::uint16_t count = imageCount(ico, icoEntrySize, "an .ico file");
    IconResources out(firstId, count);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = ico.data() + headerSize + icoEntrySize * i;
        const std::uint32_t size = ByteView::le32(entry + 8);
        const std::uint32_t offset = ByteView::le32(entry + 12);
        const std::string which = "image " + std::to_string(i + 1) + " of the .ico file";
        if (size == 0 || !ico.contains(offset, size)) {
            throw FormatError(which + " lies outside the file");
        }
        const ByteView image(ico.data() + offset, size);
        if (!isIconImage(image)) {
            throw FormatError(which + " is neither a bitmap nor a PNG");
        }
        out.add(entry, image);
    }
    return out;
}

IconResources IconResources::fromExecutable(const PeFile& image, const ResourceTree& resources,
                                            std::uint16_t firstId) {
    (void)image;  // the resources' views already lie inside it
    const ResourceKey* groupName = resources.firstName(ResourceType::groupIcon);
    if (!groupName) {
        throw FormatError("it has no icon");
    }
    const ByteView group = *resources.find(ResourceType::groupIcon, *groupName);
    const std::uint16_t count = imageCount(group, groupEntrySize, "an icon group");
    IconResources out(firstId, count);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = group.data() + headerSize + groupEntrySize * i;
        const std::uint16_t id = ByteView::le16(entry + infoSize);
        const ByteView* data = resources.find(ResourceType::icon, id);
        const std::string which = "icon image #" + std::to_string(id);
        if (!data || data->empty()) {
            throw FormatError("its icon group names " + which + ", which it lacks");
        }
        if (!isIconImage(*data)) {
            throw FormatError(which + " is neither a bitmap nor a PNG");
        }
        out.add(entry, *data);
    }
    return out;
}

void IconResources::addTo(ResourceTree& resources, std::uint16_t groupId,
                          std::uint16_t language) const {
    std::uint16_t id = first;
    for (const ByteView& image : imageData) {
        resources.set(ResourceType::icon, id++, language, image);
    }
    resources.set(ResourceType::groupIcon, groupId, language,
                  ByteView(directory.data(), directory.size()));
}

}  // namespace image
