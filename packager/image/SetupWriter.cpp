#include "SetupWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ByteView.h"
#include "Checksum.h"
#include "FormatError.h"
#include "PeFile.h"
#include "ResourceTree.h"

namespace image {
namespace SetupWriter {

namespace {

const std::uint32_t subdirectoryFlag = 0x80000000u;
const std::uint32_t sectionCharacteristics = 0x40000040u;  // initialized data, readable

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Where data of `size` bytes starts when the section has `used` bytes. The
// section starts on a page of the file and of the image, and data of a page
// or more (the package) starts on a page too: the kernel then copies the
// package between the setup program and a package file page by page, which
// a copy that is out of step by some bytes cannot (measured on Linux: a
// quarter to a third of extracting a 1.8 GiB package). The rest keeps to 8.
std::uint64_t dataStart(std::uint64_t used, std::uint64_t size) {
    return size >= sectionPlacement ? alignUp(used, sectionPlacement) : alignUp(used, 8);
}

// Everything about the new file but the bytes it copies: the resource tree
// with its data entries filled in, the order the data follow it in, and
// where the new section goes.
struct Plan {
    struct Leaf {
        std::uint64_t dataEntry;
        const ByteView* data;
    };
    std::vector<std::uint8_t> tree;
    // In the order the data follow the tree.
    std::vector<Leaf> leaves;
    std::uint64_t rva = 0;
    std::uint64_t sectionSize = 0;
    std::uint64_t rawOffset = 0;
    std::uint64_t rawSize = 0;
    std::uint64_t imageSize = 0;
};

// The tree: directories, depth first, each followed by its subdirectories;
// then the data entries; then the names. The order keeps the bytes the same
// from run to run and the loader's binary search working.
void buildTree(const ResourceTree& resources, Plan& plan) {
    std::vector<std::uint8_t>& tree = plan.tree;
    struct Pending {
        std::uint64_t entry;
        const ByteView* data;
    };
    std::vector<Pending> pending;
    std::vector<std::pair<std::uint64_t, const ResourceKey*>> names;

    const auto reserve = [&tree](std::uint64_t size) {
        const std::uint64_t at = tree.size();
        tree.resize(at + size);
        return at;
    };
    const auto offsetField = [](std::uint64_t at) {
        if (at >= subdirectoryFlag) {
            throw FormatError("the resource tree outgrows its 2 GiB of offsets");
        }
        return static_cast<std::uint32_t>(at);
    };
    // Returns the offset of the directory's first entry.
    const auto directory = [&](std::uint64_t count, std::uint64_t named) {
        if (count > 0xffff) {
            throw FormatError("a resource directory would hold more than 65535 entries");
        }
        const std::uint64_t at = reserve(16 + 8 * count);
        putLe16(&tree[at + 12], static_cast<std::uint16_t>(named));
        putLe16(&tree[at + 14], static_cast<std::uint16_t>(count - named));
        return at + 16;
    };
    const auto namedCount = [](const auto& map) {
        std::uint64_t n = 0;
        for (const auto& entry : map) {
            n += entry.first.isId() ? 0 : 1;
        }
        return n;
    };
    const auto setName = [&](std::uint64_t entry, const ResourceKey& key) {
        if (key.isId()) {
            putLe32(&tree[entry], key.id);
        } else {
            names.emplace_back(entry, &key);
        }
    };
    const auto pointAtNext = [&](std::uint64_t entry) {
        putLe32(&tree[entry + 4], offsetField(tree.size()) | subdirectoryFlag);
    };

    const auto& types = resources.types();
    std::uint64_t typeEntry = directory(types.size(), namedCount(types));
    for (const auto& type : types) {
        setName(typeEntry, type.first);
        pointAtNext(typeEntry);
        std::uint64_t nameEntry = directory(type.second.size(), namedCount(type.second));
        for (const auto& name : type.second) {
            setName(nameEntry, name.first);
            pointAtNext(nameEntry);
            std::uint64_t languageEntry = directory(name.second.size(), 0);
            for (const auto& language : name.second) {
                putLe32(&tree[languageEntry], language.first);
                pending.push_back(Pending{languageEntry + 4, &language.second});
                languageEntry += 8;
            }
            nameEntry += 8;
        }
        typeEntry += 8;
    }
    for (const auto& leaf : pending) {
        const std::uint64_t at = reserve(16);
        putLe32(&tree[leaf.entry], offsetField(at));
        plan.leaves.push_back(Plan::Leaf{at, leaf.data});
    }
    for (const auto& name : names) {
        const std::u16string& text = name.second->text;
        if (text.size() > 0xffff) {
            throw FormatError("a resource name is longer than 65535 characters");
        }
        const std::uint64_t at = reserve(2 + 2 * text.size());
        putLe16(&tree[at], static_cast<std::uint16_t>(text.size()));
        for (std::size_t i = 0; i < text.size(); ++i) {
            putLe16(&tree[at + 2 + 2 * i], text[i]);
        }
        putLe32(&tree[name.first], offsetField(at) | subdirectoryFlag);
    }
    tree.resize(alignUp(tree.size(), 8));

    // Small data first: the manifest, version and product code then keep low
    // addresses however large the package is (Wine misreads resources that
    // lie more than 2 GiB into an image).
    std::stable_sort(
        plan.leaves.begin(), plan.leaves.end(),
        [](const Plan::Leaf& a, const Plan::Leaf& b) { return a.data->size() < b.data->size(); });
}

// Raises when the file would exceed maxImageSize, unless `sizeOnly`: then
// only the sizes are right.
Plan planFor(const PeFile& stub, const ResourceTree& resources, bool sizeOnly) {
    Plan plan;
    buildTree(resources, plan);

    const std::uint64_t sectionAlignment = stub.sectionAlignment();
    const std::uint64_t fileAlignment = stub.fileAlignment();
    if (sectionAlignment == 0 || fileAlignment == 0) {
        throw FormatError("its section or file alignment is 0");
    }
    // In 64 bits: a section may claim to end beyond 4 GiB.
    std::uint64_t virtualEnd = 0;
    for (const auto& s : stub.sections()) {
        virtualEnd = std::max<std::uint64_t>(
            virtualEnd, s.virtualAddress +
                            alignUp(std::max<std::uint32_t>(s.virtualSize, 1), sectionAlignment));
    }
    plan.rva = alignUp(virtualEnd, std::max<std::uint64_t>(sectionAlignment, sectionPlacement));
    plan.sectionSize = plan.tree.size();
    for (auto& leaf : plan.leaves) {
        const std::uint64_t at = dataStart(plan.sectionSize, leaf.data->size());
        if (plan.rva + at + leaf.data->size() > maxImageSize) {
            break;  // refused below; no RVA of 32 bits would hold it
        }
        putLe32(&plan.tree[leaf.dataEntry], static_cast<std::uint32_t>(plan.rva + at));
        putLe32(&plan.tree[leaf.dataEntry + 4], static_cast<std::uint32_t>(leaf.data->size()));
        plan.sectionSize = alignUp(at + leaf.data->size(), 8);
    }
    plan.rawSize = alignUp(plan.sectionSize, fileAlignment);
    plan.rawOffset =
        alignUp(stub.bytes().size(), std::max<std::uint64_t>(fileAlignment, sectionPlacement));
    plan.imageSize = alignUp(plan.rva + plan.sectionSize, sectionAlignment);
    std::uint64_t total = plan.tree.size();
    for (const auto& leaf : plan.leaves) {
        total = alignUp(dataStart(total, leaf.data->size()) + leaf.data->size(), 8);
    }
    if (sizeOnly) {
        plan.sectionSize = total;
        plan.rawSize = alignUp(total, fileAlignment);
        return plan;
    }
    if (total != plan.sectionSize || plan.imageSize > maxImageSize ||
        plan.rawOffset + plan.rawSize > maxImageSize) {
        throw FormatError("the setup program would reach 2 GiB, which Windows does not load");
    }
    return plan;
}

// Feeds the sink and the checksum alike, in pieces small enough for any
// platform's write call and for the system's buffers to keep moving.
class Output {
public:
    Output(ByteSink& sink, const Presummed* presummed) : sink(sink), presummed(presummed) {}

    void put(const std::uint8_t* data, std::uint64_t size) {
        const bool summed = presummed && size > 0 && data == presummed->data.data() &&
                            size == presummed->data.size() && presummed->sum.valid();
        const std::uint64_t piece = 16u << 20;
        while (size > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min(size, piece));
            sink.append(data, n);
            if (!summed) {
                checksum.add(data, n);
            }
            data += n;
            size -= n;
        }
        if (summed && !checksum.add(presummed->sum.get())) {
            // Not on a word boundary after all: summed here, from the bytes.
            checksum.add(presummed->data.data(), static_cast<std::size_t>(presummed->data.size()));
        }
    }

    void zeros(std::uint64_t size) {
        static const std::uint8_t none[4096] = {};
        while (size > 0) {
            const std::uint64_t n = std::min<std::uint64_t>(sizeof(none), size);
            put(none, n);
            size -= n;
        }
    }

    std::uint32_t sum() const { return checksum.value(); }

private:
    ByteSink& sink;
    const Presummed* presummed;
    Checksum checksum;
};

}  // namespace

std::uint64_t outputSize(const PeFile& stub, const ResourceTree& resources) {
    const Plan plan = planFor(stub, resources, true);
    return plan.rawOffset + plan.rawSize;
}

void write(const PeFile& stub, const ResourceTree& resources, ByteSink& out,
           const Presummed* presummed) {
    const Plan plan = planFor(stub, resources, false);
    const ByteView file = stub.bytes();
    const std::uint64_t sectionCount = stub.sections().size();
    const std::uint64_t newHeader =
        stub.sectionTableOffset() + PeFile::sectionHeaderSize * sectionCount;
    // Only the headers change; the rest of the stub is copied as it lies.
    const std::uint64_t headSize = newHeader + PeFile::sectionHeaderSize;
    if (sectionCount >= 0xffff || headSize > stub.sizeOfHeaders() || !file.contains(0, headSize)) {
        throw FormatError("it has no room for another section header");
    }
    if (stub.directoryCount() <= PeFile::resourceDirectory) {
        throw FormatError("its optional header has no resource directory");
    }
    std::vector<std::uint8_t> head(file.data(), file.data() + headSize);

    std::uint8_t* section = &head[newHeader];
    std::memset(section, 0, PeFile::sectionHeaderSize);
    std::memcpy(section, ".rsrc", 5);
    putLe32(section + 8, static_cast<std::uint32_t>(plan.sectionSize));
    putLe32(section + 12, static_cast<std::uint32_t>(plan.rva));
    putLe32(section + 16, static_cast<std::uint32_t>(plan.rawSize));
    putLe32(section + 20, static_cast<std::uint32_t>(plan.rawOffset));
    putLe32(section + 36, sectionCharacteristics);
    putLe16(&head[stub.numberOfSectionsOffset()], static_cast<std::uint16_t>(sectionCount + 1));
    // The old resource section stays, unreferenced; renamed so that tools
    // looking sections up by name find the new one.
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        char* name = reinterpret_cast<char*>(
            &head[stub.sectionTableOffset() + PeFile::sectionHeaderSize * i]);
        if (std::strncmp(name, ".rsrc", 8) == 0) {
            std::memcpy(name, ".rsrc~", 7);
        }
    }
    const std::uint64_t resourceField = stub.directoryOffset(PeFile::resourceDirectory);
    putLe32(&head[resourceField], static_cast<std::uint32_t>(plan.rva));
    putLe32(&head[resourceField + 4], static_cast<std::uint32_t>(plan.sectionSize));
    putLe32(&head[stub.sizeOfImageOffset()], static_cast<std::uint32_t>(plan.imageSize));
    // Wraps at 32 bits, as the field does.
    putLe32(&head[stub.sizeOfInitializedDataOffset()],
            static_cast<std::uint32_t>(stub.sizeOfInitializedData() + plan.rawSize));
    putLe32(&head[stub.checksumOffset()], 0);

    Output o(out, presummed);
    const std::uint64_t start = out.size();
    o.put(head.data(), head.size());
    o.put(file.data() + headSize, file.size() - headSize);
    o.zeros(plan.rawOffset - file.size());
    o.put(plan.tree.data(), plan.tree.size());
    std::uint64_t written = plan.tree.size();
    for (const auto& leaf : plan.leaves) {
        const std::uint64_t at = dataStart(written, leaf.data->size());
        o.zeros(at - written);
        o.put(leaf.data->data(), leaf.data->size());
        written = at + leaf.data->size();
        const std::uint64_t padded = alignUp(written, 8);
        o.zeros(padded - written);
        written = padded;
    }
    o.zeros(plan.rawSize - written);

    std::uint8_t sum[4];
    putLe32(sum, o.sum());
    out.patch(start + stub.checksumOffset(), sum, sizeof(sum));
}

}  // namespace SetupWriter
}  // namespace image
