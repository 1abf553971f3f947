#pragma once

#include <cstdint>
#include <string>

namespace image {

// A read-only window on bytes that came from a file: every read is checked
// against the window's length in 64-bit arithmetic and refused with a
// FormatError saying what lies where ("the section table at 0x1f8 lies
// outside the file"). Values are little-endian whatever the host is.
class ByteView {
public:
    ByteView() = default;
    ByteView(const std::uint8_t* data, std::uint64_t size) : start(data), length(size) {}

    const std::uint8_t* data() const noexcept { return start; }
    std::uint64_t size() const noexcept { return length; }
    bool empty() const noexcept { return length == 0; }

    // Whether [offset, offset + size) lies inside the window, without overflow.
    bool contains(std::uint64_t offset, std::uint64_t size) const noexcept {
        return offset <= length && size <= length - offset;
    }

    // `what` names the structure being read for the error ("the PE header");
    // offsets in the words are the file's when the view covers a whole file.
    void require(std::uint64_t offset, std::uint64_t size, const char* what) const;
    ByteView sub(std::uint64_t offset, std::uint64_t size, const char* what) const;

    std::uint8_t u8(std::uint64_t offset, const char* what) const;
    std::uint16_t u16(std::uint64_t offset, const char* what) const;
    std::uint32_t u32(std::uint64_t offset, const char* what) const;
    std::uint64_t u64(std::uint64_t offset, const char* what) const;

    // Little-endian reads of bytes already checked, for inner loops.
    static std::uint16_t le16(const std::uint8_t* p) noexcept {
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
    static std::uint32_t le32(const std::uint8_t* p) noexcept {
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

private:
    const std::uint8_t* start = nullptr;
    std::uint64_t length = 0;
};

// "0x1f8", for the words of errors.
std::string hex(std::uint64_t value);

// Little-endian stores into a buffer the caller has sized.
void putLe16(std::uint8_t* p, std::uint16_t value) noexcept;
void putLe32(std::uint8_t* p, std::uint32_t value) noexcept;

}  // namespace image
