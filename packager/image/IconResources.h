#pragma once

#include <cstdint>
#include <vector>

#include "ByteView.h"

namespace image {

class PeFile;
class ResourceTree;

// An icon as the resources Windows shows an executable's icon from: one
// RT_ICON per image and the RT_GROUP_ICON directory that names them by id.
// The images are views of the source, which must outlive the object.
class IconResources {
public:
    // From an .ico file. `firstId` is the RT_ICON id of the first image.
    // Raises FormatError ("not an .ico file", "image 2 of the .ico file lies
    // outside it", ...).
    static IconResources fromIco(ByteView ico, std::uint16_t firstId = 1);

    // From an executable's or DLL's first RT_GROUP_ICON and the RT_ICON images
    // it names, renumbered from `firstId`. Raises FormatError when it has no
    // icon group, the group is damaged or names an image it lacks.
    static IconResources fromExecutable(const PeFile& image, const ResourceTree& resources,
                                        std::uint16_t firstId = 1);

    const std::vector<ByteView>& images() const noexcept { return imageData; }
    std::uint16_t firstId() const noexcept { return first; }
    const std::vector<std::uint8_t>& groupDirectory() const noexcept { return directory; }

    // Sets the RT_ICON images and the group `groupId` in `resources`; the
    // object must outlive the tree's use.
    void addTo(ResourceTree& resources, std::uint16_t groupId, std::uint16_t language) const;

private:
    // An empty group of `count` images numbered from `firstId`.
    IconResources(std::uint16_t firstId, std::uint16_t count);
    // The next image: its 12 bytes of description (the size among them is
    // taken from `data`) and its bytes.
    void add(const std::uint8_t* info, ByteView data);

    std::vector<ByteView> imageData;
    std::vector<std::uint8_t> directory;
    std::uint16_t first = 1;
};

}  // namespace image
