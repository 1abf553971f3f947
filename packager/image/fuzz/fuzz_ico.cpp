// Icons from anywhere: .ico files given with --icon or stored in a package,
// and the icon groups of executables and DLLs that a package names.

#include <cstddef>
#include <cstdint>

#include "FormatError.h"
#include "IconResources.h"
#include "PeFile.h"
#include "ResourceTree.h"

namespace {

volatile unsigned observed;

// Reads every byte the result claims, so that the sanitizer sees a view
// that runs past its buffer.
void touch(const image::IconResources& icon) {
    unsigned sum = 0;
    for (const image::ByteView& v : icon.images()) {
        for (std::uint64_t i = 0; i < v.size(); ++i) {
            sum += v.data()[i];
        }
    }
    observed = sum;
    image::ResourceTree tree;
    icon.addTo(tree, 1, 0);
    if (tree.types().size() != 2) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        touch(image::IconResources::fromIco(image::ByteView(data, size)));
    } catch (const image::FormatError&) {
    }
    try {
        const image::PeFile pe(data, size);
        touch(image::IconResources::fromExecutable(pe, image::ResourceTree::read(pe)));
    } catch (const image::FormatError&) {
    }
    return 0;
}
