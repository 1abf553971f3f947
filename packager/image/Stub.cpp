#include "Stub.h"

#include <algorithm>
#include <string>

#include "ByteView.h"
#include "PeFile.h"
#include "ResourceTree.h"

namespace image {
namespace Stub {

const char16_t markName[] = u"BRUMLET_STUB";

namespace {

bool powerOfTwo(std::uint64_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

void checkLayout(const PeFile& image) {
    const std::uint32_t fileAlignment = image.fileAlignment();
    const std::uint32_t sectionAlignment = image.sectionAlignment();
    if (!powerOfTwo(fileAlignment) || fileAlignment < 512 || fileAlignment > 0x10000) {
        throw FormatError("its file alignment " + hex(fileAlignment) +
                          " is not a power of two from 512 to 64 KiB");
    }
    if (!powerOfTwo(sectionAlignment) || sectionAlignment < fileAlignment) {
        throw FormatError("its section alignment " + hex(sectionAlignment) +
                          " is not a power of two at least its file alignment " +
                          hex(fileAlignment));
    }

    const std::uint64_t headers = image.sizeOfHeaders();
    const std::uint64_t fileSize = image.bytes().size();
    if (headers == 0 || headers > fileSize || headers > image.sizeOfImage()) {
        throw FormatError("its headers' size " + hex(headers) +
                          " does not fit in the file and the image");
    }
    const auto& sections = image.sections();
    if (sections.empty()) {
        throw FormatError("it has no sections");
    }
    const std::uint64_t newHeader =
        image.sectionTableOffset() + PeFile::sectionHeaderSize * sections.size();
    bool room = sections.size() < 0xffff && newHeader + PeFile::sectionHeaderSize <= headers;
    for (std::uint64_t i = 0; room && i < PeFile::sectionHeaderSize; ++i) {
        room = image.bytes().data()[newHeader + i] == 0;
    }
    if (!room) {
        throw FormatError("it has no room for another section header");
    }

    for (const auto& s : sections) {
        const std::string which = "section " + hex(s.virtualAddress);
        if (s.sizeOfRawData != 0 &&
            (s.pointerToRawData < headers ||
             std::uint64_t(s.pointerToRawData) + s.sizeOfRawData > fileSize)) {
            throw FormatError("the data of " + which + " at " + hex(s.pointerToRawData) + " (" +
                              hex(s.sizeOfRawData) + " bytes) lies outside the file's sections");
        }
        const std::uint64_t end =
            std::uint64_t(s.virtualAddress) + std::max<std::uint32_t>(s.virtualSize, 1);
        if (s.virtualAddress < headers || s.virtualAddress % sectionAlignment != 0 ||
            end > image.sizeOfImage()) {
            throw FormatError(which + " (" + hex(s.virtualSize) +
                              " bytes) is misplaced in the image of " + hex(image.sizeOfImage()) +
                              " bytes");
        }
    }
}

}  // namespace

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
    checkLayout(image);
}

}  // namespace Stub
}  // namespace image
