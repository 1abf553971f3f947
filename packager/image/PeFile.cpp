#include "PeFile.h"

#include <algorithm>
#include <cstring>

#include "FormatError.h"

namespace image {

namespace {

const std::uint64_t dosHeaderSize = 64;
const std::uint64_t fileHeaderSize = 20;
const std::uint16_t pe32PlusMagic = 0x20b;
const std::uint16_t pe32Magic = 0x10b;
// The optional header of a PE32+ image up to its data directories.
const std::uint64_t optionalHeaderFixedSize = 112;
const std::uint32_t maxDirectories = 16;

// How much of a section's raw data the loader shows: all of it, unless the
// section is shorter in memory.
std::uint64_t rawExtent(const PeFile::Section& s) {
    return s.virtualSize != 0 ? std::min(s.virtualSize, s.sizeOfRawData) : s.sizeOfRawData;
}

bool powerOfTwo(std::uint64_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

}  // namespace

bool PeFile::hasSignature(const std::uint8_t* data, std::uint64_t size) noexcept {
    return size >= 2 && data[0] == 'M' && data[1] == 'Z';
}

PeFile::PeFile(const std::uint8_t* data, std::uint64_t size) : file(data, size) {
    if (!hasSignature(data, size)) {
        throw FormatError("it is not a Windows executable (no MZ signature)");
    }
    if (size < dosHeaderSize) {
        throw FormatError("the DOS header is cut short (" + std::to_string(size) + " bytes)");
    }
    ntOffset = file.u32(0x3c, "the PE header offset");
    file.require(ntOffset, 4 + fileHeaderSize + 2, "the PE header");
    if (std::memcmp(data + ntOffset, "PE\0\0", 4) != 0) {
        throw FormatError("it is not a Windows executable (no PE signature at " + hex(ntOffset) +
                          ")");
    }
    machineType = file.u16(ntOffset + 4, "the file header");
    const std::uint16_t sectionCount = file.u16(ntOffset + 6, "the file header");
    const std::uint16_t optionalSize = file.u16(ntOffset + 20, "the file header");
    fileCharacteristics = file.u16(ntOffset + 22, "the file header");

    const std::uint64_t optional = optionalHeaderOffset();
    const std::uint16_t magic = file.u16(optional, "the optional header");
    if (magic == pe32Magic) {
        throw FormatError("it is a 32-bit (PE32) image, not a 64-bit one (PE32+)");
    }
    if (magic != pe32PlusMagic) {
        throw FormatError("the optional header has the unknown magic " + hex(magic));
    }
    if (optionalSize < optionalHeaderFixedSize) {
        throw FormatError("the optional header's size " + hex(optionalSize) +
                          " is too small for a PE32+ image");
    }
    file.require(optional, optionalSize, "the optional header");
    initializedSize = file.u32(optional + 8, "the optional header");
    sectionAlign = file.u32(optional + 32, "the optional header");
    fileAlign = file.u32(optional + 36, "the optional header");
    imageSize = file.u32(optional + 56, "the optional header");
    headersSize = file.u32(optional + 60, "the optional header");
    subsystemType = file.u16(optional + 68, "the optional header");
    // The loader reads at most 16 directories whatever the count says; those
    // it reads must fit in the optional header.
    directories = std::min(file.u32(optional + 108, "the optional header"), maxDirectories);
    if (optionalHeaderFixedSize + 8ull * directories > optionalSize) {
        throw FormatError("the optional header's " + std::to_string(directories) +
                          " data directories do not fit in its " + std::to_string(optionalSize) +
                          " bytes");
    }

    sectionsOffset = optional + optionalSize;
    file.require(sectionsOffset, sectionHeaderSize * sectionCount, "the section table");
    sectionList.reserve(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* p = data + sectionsOffset + sectionHeaderSize * i;
        Section s;
        std::memcpy(s.name.data(), p, 8);
        s.virtualSize = ByteView::le32(p + 8);
        s.virtualAddress = ByteView::le32(p + 12);
        s.sizeOfRawData = ByteView::le32(p + 16);
        s.pointerToRawData = ByteView::le32(p + 20);
        s.characteristics = ByteView::le32(p + 36);
        sectionList.push_back(s);
    }
}

PeFile::DataDirectory PeFile::directory(unsigned index) const noexcept {
    DataDirectory d;
    if (index < directories) {
        const std::uint8_t* p = file.data() + directoryOffset(index);
        d.rva = ByteView::le32(p);
        d.size = ByteView::le32(p + 4);
    }
    return d;
}

const PeFile::Section* PeFile::sectionAt(std::uint32_t rva) const noexcept {
    for (const Section& s : sectionList) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < rawExtent(s)) {
            return &s;
        }
    }
    return nullptr;
}

ByteView PeFile::rawData(const Section& s) const {
    const std::uint64_t extent = rawExtent(s);
    if (!file.contains(s.pointerToRawData, extent)) {
        throw FormatError("the data of section " + hex(s.virtualAddress) + " at " +
                          hex(s.pointerToRawData) + " (" + hex(extent) +
                          " bytes) lies outside the file");
    }
    return ByteView(file.data() + s.pointerToRawData, extent);
}

ByteView PeFile::atRva(std::uint32_t rva, std::uint64_t size, const char* what) const {
    const Section* s = sectionAt(rva);
    if (!s) {
        throw FormatError(std::string(what) + " at RVA " + hex(rva) +
                          " lies outside the sections' data in the file");
    }
    const std::uint64_t into = rva - s->virtualAddress;
    if (size > rawExtent(*s) - into) {
        throw FormatError(std::string(what) + " at RVA " + hex(rva) + " (" + hex(size) +
                          " bytes) runs past the end of its section's data");
    }
    const std::uint64_t offset = s->pointerToRawData + into;
    if (!file.contains(offset, size)) {
        throw FormatError(std::string(what) + " at RVA " + hex(rva) + " (" + hex(size) +
                          " bytes) lies outside the file, which is cut short");
    }
    return ByteView(file.data() + offset, size);
}

void PeFile::checkLayout() const {
    if (!powerOfTwo(fileAlign) || fileAlign < 512 || fileAlign > 0x10000) {
        throw FormatError("its file alignment " + hex(fileAlign) +
                          " is not a power of two from 512 to 64 KiB");
    }
    if (!powerOfTwo(sectionAlign) || sectionAlign < fileAlign) {
        throw FormatError("its section alignment " + hex(sectionAlign) +
                          " is not a power of two at least its file alignment " + hex(fileAlign));
    }
    const std::uint64_t headers = headersSize;
    if (headers == 0 || headers > file.size() || headers > imageSize) {
        throw FormatError("its headers' size " + hex(headers) +
                          " does not fit in the file and the image");
    }
    if (sectionList.empty()) {
        throw FormatError("it has no sections");
    }
    const std::uint64_t tableEnd = sectionsOffset + sectionHeaderSize * sectionList.size();
    if (tableEnd > headers) {
        throw FormatError("its section table of " + std::to_string(sectionList.size()) +
                          " sections runs to " + hex(tableEnd) + ", past the headers' size " +
                          hex(headers));
    }
    for (const Section& s : sectionList) {
        const std::string which = "section " + hex(s.virtualAddress);
        if (s.sizeOfRawData != 0 &&
            (s.pointerToRawData < headers ||
             std::uint64_t(s.pointerToRawData) + s.sizeOfRawData > file.size())) {
            throw FormatError("the data of " + which + " at " + hex(s.pointerToRawData) + " (" +
                              hex(s.sizeOfRawData) + " bytes) lies outside the file's sections");
        }
        // The loader maps SizeOfRawData bytes of a section whose VirtualSize is 0.
        const std::uint64_t extent = s.virtualSize != 0 ? s.virtualSize : s.sizeOfRawData;
        const std::uint64_t end =
            std::uint64_t(s.virtualAddress) + std::max<std::uint64_t>(extent, 1);
        if (s.virtualAddress < headers || s.virtualAddress % sectionAlign != 0 || end > imageSize) {
            throw FormatError(which + " (" + hex(extent) + " bytes) is misplaced in the image of " +
                              hex(imageSize) + " bytes");
        }
    }
}

}  // namespace image
