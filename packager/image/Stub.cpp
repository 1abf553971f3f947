#include "Stub.h"

#include <string>

#include "ByteView.h"
#include "PeFile.h"
#include "ResourceTree.h"

namespace image {
namespace Stub {

const char16_t markName[] = u"BRUMLET_STUB";

void check(const PeFile& image, const ResourceTree& resources) {
    if (image.machine() != PeFile::machineAmd64 ||
        image.subsystem() != PeFile::subsystemWindowsGui) {
        throw StubRefusal("is not a 64-bit Windows GUI program (PE32+)");
    }
    if (image.characteristics() & PeFile::characteristicDll) {
        throw StubRefusal("is a DLL, not a program");
    }
    if (image.directory(PeFile::certificateDirectory).size != 0) {
        throw StubRefusal(
            "is signed and wrapping would break its signature; use the unsigned "
            "brumlet-wrapper.exe and sign the setup program");
    }
    if (resources.has(ResourceType::rcdata, u"MSI")) {
        throw StubRefusal("already carries a package; use the bare brumlet-wrapper.exe");
    }
    if (!resources.has(ResourceType::rcdata, markName)) {
        throw StubRefusal(
            "is not Brumlet's stub; use the brumlet-wrapper.exe that comes with "
            "brumlet");
    }
    image.checkLayout();
    const std::uint64_t newHeader =
        image.sectionTableOffset() + PeFile::sectionHeaderSize * image.sections().size();
    bool room = image.sections().size() < 0xffff &&
                newHeader + PeFile::sectionHeaderSize <= image.sizeOfHeaders();
    for (std::uint64_t i = 0; room && i < PeFile::sectionHeaderSize; ++i) {
        room = image.bytes().data()[newHeader + i] == 0;
    }
    if (!room) {
        throw FormatError("it has no room for another section header");
    }
}

}  // namespace Stub
}  // namespace image
