// Executables from anywhere: the PE reader, the resource walk and lookup, the
// stub checks and, for what passes them, the setup writer, whose output must
// read back with the package it was given; and what a signature covers.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Authenticode.h"
#include "ByteSink.h"
#include "FormatError.h"
#include "PeFile.h"
#include "ResourceTree.h"
#include "SetupWriter.h"
#include "Stub.h"

namespace {

volatile unsigned observed;

class MemorySink : public image::ByteSink {
public:
    void append(const void* data, std::size_t size) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    void patch(std::uint64_t offset, const void* data, std::size_t size) override {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            __builtin_trap();
        }
        std::memcpy(&bytes[offset], data, size);
    }
    std::uint64_t size() const override { return bytes.size(); }

    std::vector<std::uint8_t> bytes;
};

// Reads every byte a view claims, so that the sanitizer sees a view that
// runs past its buffer.
unsigned touch(const image::ResourceTree& tree) {
    unsigned sum = 0;
    for (const auto& type : tree.types()) {
        for (const auto& name : type.second) {
            for (const auto& language : name.second) {
                const image::ByteView& v = language.second;
                for (std::uint64_t i = 0; i < v.size(); ++i) {
                    sum += v.data()[i];
                }
            }
        }
    }
    return sum;
}

void writeSetup(const image::PeFile& stub, image::ResourceTree tree) {
    static const std::uint8_t package[] = "a package of a few bytes";
    tree.set(image::ResourceType::rcdata, u"MSI", 0, image::ByteView(package, sizeof(package)));
    MemorySink sink;
    image::SetupWriter::write(stub, tree, sink);
    if (sink.bytes.size() != image::SetupWriter::outputSize(stub, tree)) {
        __builtin_trap();
    }
    // What the tool wrote, its info and extract commands must read back.
    const image::PeFile setup(sink.bytes.data(), sink.bytes.size());
    const image::ResourceTree written = image::ResourceTree::read(setup);
    const image::ByteView* found = written.find(image::ResourceType::rcdata, u"MSI");
    if (!found || found->size() != sizeof(package) ||
        std::memcmp(found->data(), package, sizeof(package)) != 0) {
        __builtin_trap();
    }
}

// Reads every byte a signature's ranges and its PKCS#7 bytes claim.
unsigned touchSignature(const image::PeFile& pe) {
    unsigned sum = 0;
    try {
        pe.checkLayout();
        const image::Authenticode::Signed found = image::Authenticode::read(pe);
        std::vector<image::ByteView> views = found.ranges;
        views.push_back(found.signature);
        for (const image::ByteView& v : views) {
            for (std::uint64_t i = 0; i < v.size(); ++i) {
                sum += v.data()[i];
            }
        }
    } catch (const image::FormatError&) {
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const image::PeFile pe(data, size);
        observed = touchSignature(pe);
        const image::ResourceTree tree = image::ResourceTree::read(pe);
        observed = touch(tree);
        tree.find(image::ResourceType::rcdata, u"MSI");
        tree.find(image::ResourceType::rcdata, u"PRODUCT_CODE");
        image::Stub::check(pe, tree);
        writeSetup(pe, tree);
    } catch (const image::FormatError&) {
    }
    return 0;
}
