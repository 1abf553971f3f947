#include "ByteView.h"

#include <cstdio>

#include "FormatError.h"

namespace image {

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

void ByteView::require(std::uint64_t offset, std::uint64_t size, const char* what) const {
    if (!contains(offset, size)) {
        throw FormatError(std::string(what) + " at " + hex(offset) + " (" + hex(size) +
                          " bytes) lies outside the file");
    }
}

ByteView ByteView::sub(std::uint64_t offset, std::uint64_t size, const char* what) const {
    require(offset, size, what);
    return ByteView(start + offset, size);
}

std::uint8_t ByteView::u8(std::uint64_t offset, const char* what) const {
    require(offset, 1, what);
    return start[offset];
}

std::uint16_t ByteView::u16(std::uint64_t offset, const char* what) const {
    require(offset, 2, what);
    return le16(start + offset);
}

std::uint32_t ByteView::u32(std::uint64_t offset, const char* what) const {
    require(offset, 4, what);
    return le32(start + offset);
}

std::uint64_t ByteView::u64(std::uint64_t offset, const char* what) const {
    require(offset, 8, what);
    return le32(start + offset) | (static_cast<std::uint64_t>(le32(start + offset + 4)) << 32);
}

void putLe16(std::uint8_t* p, std::uint16_t value) noexcept {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::uint8_t* p, std::uint32_t value) noexcept {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace image
