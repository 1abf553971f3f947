#pragma once

// Small valid images made in code, and the means to damage them: the tests
// of the core start from these rather than from binary files.

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "ByteView.h"
#include "FormatError.h"
#include "PeFile.h"
#include "ResourceTree.h"
#include "SetupWriter.h"
#include "Stub.h"

namespace testimage {

typedef std::vector<std::uint8_t> Bytes;

// A change that damages a file, and words its refusal must hold: a case of
// the tables of damaged inputs.
struct Damage {
    const char* name;
    std::function<void(Bytes&)> apply;
    const char* words;
};

inline void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.name;
}

// Where the synthetic image keeps its headers.
const std::uint32_t peOffset = 0x40;
const std::uint32_t fileHeader = peOffset + 4;
const std::uint32_t optionalHeader = peOffset + 24;
const std::uint32_t sectionTable = optionalHeader + 240;
const std::uint32_t textRva = 0x1000;
const std::uint32_t rsrcRva = 0x2000;
const std::uint32_t rsrcOffset = 0x600;

inline void put16(Bytes& b, std::uint64_t at, std::uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    image::putLe16(&b[at], v);
}
inline void put32(Bytes& b, std::uint64_t at, std::uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    image::putLe32(&b[at], v);
}
inline std::uint32_t get32(const Bytes& b, std::uint64_t at) {
    return image::ByteView::le32(&b[at]);
}

inline image::ByteView view(const Bytes& b) {
    return image::ByteView(b.data(), b.size());
}
inline image::ByteView view(const std::string& s) {
    return image::ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// A minimal x64 GUI program: headers, a .text section and, when `rsrc` is
// not empty, a .rsrc section at rsrcRva holding those bytes.
inline Bytes bareImage(const Bytes& rsrc = Bytes()) {
    Bytes b(rsrcOffset, 0);
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3c, peOffset);
    std::memcpy(&b[peOffset], "PE\0\0", 4);
    put16(b, fileHeader, 0x8664);
    put16(b, fileHeader + 2, rsrc.empty() ? 1 : 2);
    put16(b, fileHeader + 16, 240);
    put16(b, fileHeader + 18, 0x22);
    put16(b, optionalHeader, 0x20b);
    put32(b, optionalHeader + 16, textRva);  // entry point
    put32(b, optionalHeader + 24, 0x40000000);
    put32(b, optionalHeader + 32, 0x1000);
    put32(b, optionalHeader + 36, 0x200);
    put16(b, optionalHeader + 40, 6);
    put16(b, optionalHeader + 48, 6);
    put32(b, optionalHeader + 60, 0x400);
    put16(b, optionalHeader + 68, 2);
    put32(b, optionalHeader + 108, 16);
    // .text: one page in memory, 0x200 bytes of code in the file.
    std::memcpy(&b[sectionTable], ".text", 5);
    put32(b, sectionTable + 8, 0x10);
    put32(b, sectionTable + 12, textRva);
    put32(b, sectionTable + 16, 0x200);
    put32(b, sectionTable + 20, 0x400);
    put32(b, sectionTable + 36, 0x60000020);
    b[0x400] = 0xc3;  // ret
    std::uint32_t imageEnd = 0x2000;
    if (!rsrc.empty()) {
        const std::uint32_t raw = static_cast<std::uint32_t>((rsrc.size() + 0x1ff) & ~0x1ffull);
        const std::uint32_t s = sectionTable + 40;
        std::memcpy(&b[s], ".rsrc", 5);
        put32(b, s + 8, static_cast<std::uint32_t>(rsrc.size()));
        put32(b, s + 12, rsrcRva);
        put32(b, s + 16, raw);
        put32(b, s + 20, rsrcOffset);
        put32(b, s + 36, 0x40000040);
        b.insert(b.end(), rsrc.begin(), rsrc.end());
        b.resize(rsrcOffset + raw);
        put32(b, optionalHeader + 112 + 16, rsrcRva);
        put32(b, optionalHeader + 112 + 20, static_cast<std::uint32_t>(rsrc.size()));
        imageEnd = rsrcRva + ((raw + 0xfff) & ~0xfffu);
    }
    put32(b, optionalHeader + 56, imageEnd);
    return b;
}

class MemorySink : public image::ByteSink {
public:
    void append(const void* data, std::size_t size) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    void patch(std::uint64_t offset, const void* data, std::size_t size) override {
        std::memcpy(&bytes[offset], data, size);
    }
    std::uint64_t size() const override { return bytes.size(); }

    Bytes bytes;
};

inline Bytes write(const Bytes& stub, const image::ResourceTree& resources) {
    const image::PeFile pe(stub.data(), stub.size());
    MemorySink sink;
    image::SetupWriter::write(pe, resources, sink);
    return sink.bytes;
}

inline const std::string& manifestText() {
    static const std::string text = "<assembly manifestVersion=\"1.0\"/>";
    return text;
}
inline const std::string& markText() {
    static const std::string text = "Brumlet stub";
    return text;
}

// Brumlet's stub in small: the bare image given a manifest and the mark.
inline Bytes stubImage() {
    image::ResourceTree tree;
    tree.set(image::ResourceType::manifest, 1, image::languageEnglishUs, view(manifestText()));
    tree.set(image::ResourceType::rcdata, image::Stub::markName, image::languageNeutral,
             view(markText()));
    return write(bareImage(), tree);
}

// Reads the image and its resources and checks it as a stub.
inline void checkStub(const Bytes& b) {
    const image::PeFile pe(b.data(), b.size());
    image::Stub::check(pe, image::ResourceTree::read(pe));
}

}  // namespace testimage
