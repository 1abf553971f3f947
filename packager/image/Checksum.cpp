#include "Checksum.h"

#include <algorithm>

#include "ByteView.h"

namespace image {

void Checksum::add(const void* data, std::size_t size) noexcept {
    const auto* p = static_cast<const std::uint8_t*>(data);
    total += size;
    // Summing 32-bit words and folding at the end gives the same 16-bit one's
    // complement sum as adding word by word, at a fraction of the cost; a
    // word split between two pieces is completed first. The 64-bit sum cannot
    // overflow below 2^32 words, far beyond any image.
    for (; size > 0 && filled > 0; ++p, --size) {
        word |= static_cast<std::uint32_t>(*p) << (8 * filled);
        if (++filled == 4) {
            sum += word;
            word = 0;
            filled = 0;
        }
    }
    for (; size >= 4; p += 4, size -= 4) {
        sum += ByteView::le32(p);
    }
    for (; size > 0; ++p, --size) {
        word |= static_cast<std::uint32_t>(*p) << (8 * filled++);
    }
}

bool Checksum::add(const Checksum& following) noexcept {
    if (filled != 0) {
        return false;
    }
    sum += following.sum;
    total += following.total;
    word = following.word;
    filled = following.filled;
    return true;
}

std::uint32_t Checksum::value() const noexcept {
    std::uint64_t s = sum + word;
    s = (s & 0xffffffffu) + (s >> 32);
    s = (s & 0xffffffffu) + (s >> 32);
    s = (s & 0xffff) + (s >> 16);
    s = (s & 0xffff) + (s >> 16);
    s = (s & 0xffff) + (s >> 16);
    return static_cast<std::uint32_t>(s + total);
}

std::uint32_t Checksum::of(const std::uint8_t* data, std::uint64_t size,
                           std::uint64_t checksumOffset) noexcept {
    static const std::uint8_t zeros[4] = {};
    Checksum checksum;
    const std::uint64_t before = std::min(checksumOffset, size);
    const std::uint64_t field = std::min<std::uint64_t>(4, size - before);
    checksum.add(data, before);
    checksum.add(zeros, field);
    checksum.add(data + before + field, size - before - field);
    return checksum.value();
}

}  // namespace image
