#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ByteView.h"

namespace image {

// The headers of a PE32+ (64-bit) Windows executable, read from its bytes
// with every offset checked; nothing is copied, so the bytes must outlive the
// object. Raises FormatError when the file is no PE32+ image or its headers,
// section table or data directories lie outside it. What a stub needs beyond
// checkLayout is Stub::check's.
class PeFile {
public:
    static constexpr std::uint16_t machineAmd64 = 0x8664;
    static constexpr std::uint16_t subsystemWindowsGui = 2;
    static constexpr std::uint16_t characteristicDll = 0x2000;
    static constexpr std::uint32_t sectionHeaderSize = 40;
    enum Directory : unsigned {
        resourceDirectory = 2,
        certificateDirectory = 4,
    };

    struct Section {
        std::array<char, 8> name;
        std::uint32_t virtualSize;
        std::uint32_t virtualAddress;
        std::uint32_t sizeOfRawData;
        std::uint32_t pointerToRawData;
        std::uint32_t characteristics;
    };
    struct DataDirectory {
        std::uint32_t rva = 0;
        std::uint32_t size = 0;
    };

    PeFile(const std::uint8_t* data, std::uint64_t size);

    // Whether the bytes start like an executable ("MZ"), before any check.
    static bool hasSignature(const std::uint8_t* data, std::uint64_t size) noexcept;

    ByteView bytes() const noexcept { return file; }

    // What the loader needs of the layout, for any program the tool reads
    // as a whole: file and section alignments powers of two within the
    // format's limits (512 B to 64 KiB for files, SectionAlignment at least
    // FileAlignment), the headers and the section table within SizeOfHeaders,
    // the file and the image, each section's data inside the file and the
    // section inside the image at its alignment. Raises FormatError.
    void checkLayout() const;

    std::uint16_t machine() const noexcept { return machineType; }
    std::uint16_t characteristics() const noexcept { return fileCharacteristics; }
    std::uint16_t subsystem() const noexcept { return subsystemType; }
    std::uint32_t fileAlignment() const noexcept { return fileAlign; }
    std::uint32_t sectionAlignment() const noexcept { return sectionAlign; }
    std::uint32_t sizeOfHeaders() const noexcept { return headersSize; }
    std::uint32_t sizeOfImage() const noexcept { return imageSize; }
    std::uint32_t sizeOfInitializedData() const noexcept { return initializedSize; }

    const std::vector<Section>& sections() const noexcept { return sectionList; }
    // A directory the optional header does not have reads as zeros.
    DataDirectory directory(unsigned index) const noexcept;
    // How many directories the optional header has room for (at most 16).
    std::uint32_t directoryCount() const noexcept { return directories; }

    // File offsets of the fields a writer mends.
    std::uint64_t numberOfSectionsOffset() const noexcept { return ntOffset + 6; }
    std::uint64_t optionalHeaderOffset() const noexcept { return ntOffset + 24; }
    std::uint64_t checksumOffset() const noexcept { return optionalHeaderOffset() + 64; }
    std::uint64_t sizeOfImageOffset() const noexcept { return optionalHeaderOffset() + 56; }
    std::uint64_t sizeOfInitializedDataOffset() const noexcept {
        return optionalHeaderOffset() + 8;
    }
    std::uint64_t directoryOffset(unsigned index) const noexcept {
        return optionalHeaderOffset() + 112 + 8ull * index;
    }
    std::uint64_t sectionTableOffset() const noexcept { return sectionsOffset; }

    // The file bytes of [rva, rva + size), which must lie inside one section's
    // raw data and inside the file ("<what> at RVA 0x... lies outside ...").
    ByteView atRva(std::uint32_t rva, std::uint64_t size, const char* what) const;
    // The section whose raw data holds `rva`, or null.
    const Section* sectionAt(std::uint32_t rva) const noexcept;
    // The raw data of a section, checked to lie inside the file.
    ByteView rawData(const Section& section) const;

private:
    ByteView file;
    std::uint64_t ntOffset = 0;
    std::uint64_t sectionsOffset = 0;
    std::uint16_t machineType = 0;
    std::uint16_t fileCharacteristics = 0;
    std::uint16_t subsystemType = 0;
    std::uint32_t fileAlign = 0;
    std::uint32_t sectionAlign = 0;
    std::uint32_t headersSize = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t initializedSize = 0;
    std::uint32_t directories = 0;
    std::vector<Section> sectionList;
};

}  // namespace image
