#include "ResourceImage.h"

#include <algorithm>
#include <cstring>

#include "ErrorHandling.h"
#include "PeImage.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"

namespace {

const DWORD subdirectoryFlag = 0x80000000u;

template <class T>
T readAt(const std::vector<std::uint8_t>& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        BM_THROW_MSG("the executable's headers or resources are damaged (offset " << offset << ")");
    }
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

template <class T>
void writeAt(std::vector<std::uint8_t>& bytes, size_t offset, const T& value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

struct Layout {
    size_t ntOffset;
    size_t optionalOffset;
    size_t sectionsOffset;
    WORD sectionCount;
};

Layout layoutOf(const std::vector<std::uint8_t>& image) {
    Layout l;
    if (readAt<WORD>(image, 0) != IMAGE_DOS_SIGNATURE) {
        BM_THROW_MSG("not a Windows executable");
    }
    l.ntOffset = static_cast<size_t>(readAt<LONG>(image, offsetof(IMAGE_DOS_HEADER, e_lfanew)));
    if (readAt<DWORD>(image, l.ntOffset) != IMAGE_NT_SIGNATURE) {
        BM_THROW_MSG("not a Windows executable");
    }
    const size_t fileHeader = l.ntOffset + 4;
    l.optionalOffset = fileHeader + sizeof(IMAGE_FILE_HEADER);
    if (readAt<WORD>(image, l.optionalOffset) != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        BM_THROW_MSG("not a PE32+ (x64) executable");
    }
    l.sectionCount =
        readAt<WORD>(image, fileHeader + offsetof(IMAGE_FILE_HEADER, NumberOfSections));
    l.sectionsOffset =
        l.optionalOffset +
        readAt<WORD>(image, fileHeader + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader));
    return l;
}

size_t optionalField(const Layout& l, size_t fieldOffset) {
    return l.optionalOffset + fieldOffset;
}

size_t resourceDirectoryField(const Layout& l) {
    return optionalField(l, offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)) +
           IMAGE_DIRECTORY_ENTRY_RESOURCE * sizeof(IMAGE_DATA_DIRECTORY);
}

}  // namespace

ResourceImage::Key::Key(LPCWSTR value) {
    if (IS_INTRESOURCE(value)) {
        id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(value));
    } else {
        text = value;
    }
}

bool ResourceImage::Key::operator<(const Key& other) const {
    if (isId() != other.isId()) {
        return !isId();
    }
    return isId() ? id < other.id : text < other.text;
}

tstring ResourceImage::Key::str() const {
    return isId() ? L"#" + std::to_wstring(id) : text;
}

ResourceImage::ResourceImage(std::vector<std::uint8_t> bytes) : image(std::move(bytes)) {
    const Layout l = layoutOf(image);
    const size_t dir = resourceDirectoryField(l);
    const auto rva = readAt<DWORD>(image, dir);
    const auto size = readAt<DWORD>(image, dir + 4);
    if (rva != 0 && size != 0) {
        readTree(rva, size);
    }
}

size_t ResourceImage::rvaToOffset(DWORD rva, DWORD size) const {
    const Layout l = layoutOf(image);
    for (WORD i = 0; i < l.sectionCount; ++i) {
        const auto s = readAt<IMAGE_SECTION_HEADER>(
            image, l.sectionsOffset + i * sizeof(IMAGE_SECTION_HEADER));
        const DWORD extent = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress <= extent &&
            size <= extent - (rva - s.VirtualAddress)) {
            const size_t offset = s.PointerToRawData + (rva - s.VirtualAddress);
            if (offset + size > image.size()) {
                break;
            }
            return offset;
        }
    }
    BM_THROW_MSG("the executable's resources lie outside its sections (RVA " << rva << ")");
}

void ResourceImage::readTree(DWORD rsrcRva, DWORD rsrcSize) {
    const size_t base = rvaToOffset(rsrcRva, sizeof(IMAGE_RESOURCE_DIRECTORY));
    (void)rsrcSize;

    // Reads one directory's entries as (key, offset from the section start).
    const auto entries = [this, base](DWORD dirOffset, bool wantSubdirectories) {
        const auto dir = readAt<IMAGE_RESOURCE_DIRECTORY>(image, base + dirOffset);
        std::vector<std::pair<Key, DWORD>> out;
        const size_t count = size_t(dir.NumberOfNamedEntries) + dir.NumberOfIdEntries;
        for (size_t i = 0; i < count; ++i) {
            const size_t at = base + dirOffset + sizeof(dir) + i * 8;
            const auto name = readAt<DWORD>(image, at);
            const auto target = readAt<DWORD>(image, at + 4);
            if (((target & subdirectoryFlag) != 0) != wantSubdirectories) {
                BM_THROW_MSG("the executable's resource tree is malformed");
            }
            if (name & subdirectoryFlag) {
                const size_t s = base + (name & ~subdirectoryFlag);
                const auto length = readAt<WORD>(image, s);
                if (s + 2 + length * 2u > image.size()) {
                    BM_THROW_MSG("the executable's resource names are damaged");
                }
                tstring text(length, L'\0');
                std::memcpy(&text[0], image.data() + s + 2, length * 2u);
                out.emplace_back(Key(text), target & ~subdirectoryFlag);
            } else {
                out.emplace_back(Key(static_cast<WORD>(name)), target & ~subdirectoryFlag);
            }
        }
        return out;
    };

    for (const auto& type : entries(0, true)) {
        for (const auto& name : entries(type.second, true)) {
            for (const auto& language : entries(name.second, false)) {
                const auto leaf = readAt<IMAGE_RESOURCE_DATA_ENTRY>(image, base + language.second);
                const size_t offset = rvaToOffset(leaf.OffsetToData, leaf.Size);
                types[type.first][name.first][language.first.id] =
                    Data{image.data() + offset, leaf.Size};
            }
        }
    }
}

bool ResourceImage::has(const Key& type, const Key& name) const {
    const auto t = types.find(type);
    return t != types.end() && t->second.count(name) != 0;
}

void ResourceImage::set(const Key& type, const Key& name, WORD language, const void* data,
                        std::uint64_t size) {
    if (size > 0xffffffffull) {
        BM_THROW_MSG("resource " << name.str() << " is too large (" << size << " bytes)");
    }
    types[type][name][language] = Data{static_cast<const std::uint8_t*>(data), size};
}

void ResourceImage::write(const tstring& path) const {
    // The tree: directories, then data entries, then name strings, in one
    // block; the data follows, each piece on an 8-byte boundary.
    std::vector<std::uint8_t> tree;
    const auto reserve = [&tree](size_t size) {
        const size_t at = tree.size();
        tree.resize(at + size);
        return at;
    };
    struct Pending {
        size_t entryOffset;
        const Data* data;
    };
    std::vector<Pending> leaves;
    std::vector<std::pair<size_t, const Key*>> names;

    const auto directory = [&](size_t count, size_t named) {
        IMAGE_RESOURCE_DIRECTORY dir = {};
        dir.NumberOfNamedEntries = static_cast<WORD>(named);
        dir.NumberOfIdEntries = static_cast<WORD>(count - named);
        const size_t at = reserve(sizeof(dir) + count * 8);
        writeAt(tree, at, dir);
        return at + sizeof(dir);
    };
    const auto namedCount = [](const auto& map) {
        size_t n = 0;
        for (const auto& entry : map) {
            n += entry.first.isId() ? 0 : 1;
        }
        return n;
    };
    const auto setName = [&](size_t entry, const Key& key) {
        if (key.isId()) {
            writeAt<DWORD>(tree, entry, key.id);
        } else {
            names.emplace_back(entry, &key);
        }
    };

    // Each directory is followed by its subdirectories, depth first.
    size_t typeEntry = directory(types.size(), namedCount(types));
    for (const auto& type : types) {
        setName(typeEntry, type.first);
        writeAt<DWORD>(tree, typeEntry + 4, static_cast<DWORD>(tree.size()) | subdirectoryFlag);
        size_t nameEntry = directory(type.second.size(), namedCount(type.second));
        for (const auto& name : type.second) {
            setName(nameEntry, name.first);
            writeAt<DWORD>(tree, nameEntry + 4, static_cast<DWORD>(tree.size()) | subdirectoryFlag);
            size_t languageEntry = directory(name.second.size(), 0);
            for (const auto& language : name.second) {
                writeAt<DWORD>(tree, languageEntry, language.first);
                leaves.push_back(Pending{languageEntry + 4, &language.second});
                languageEntry += 8;
            }
            nameEntry += 8;
        }
        typeEntry += 8;
    }
    for (const auto& leaf : leaves) {
        const size_t at = reserve(sizeof(IMAGE_RESOURCE_DATA_ENTRY));
        writeAt<DWORD>(tree, leaf.entryOffset, static_cast<DWORD>(at));
    }
    for (const auto& name : names) {
        const size_t at = reserve(2 + name.second->text.size() * 2);
        writeAt<WORD>(tree, at, static_cast<WORD>(name.second->text.size()));
        std::memcpy(tree.data() + at + 2, name.second->text.data(), name.second->text.size() * 2);
        writeAt<DWORD>(tree, name.first, static_cast<DWORD>(at) | subdirectoryFlag);
    }
    tree.resize(alignUp(tree.size(), 8));

    // The new section goes after everything the stub has.
    std::vector<std::uint8_t> head = image;
    const Layout l = layoutOf(head);
    const auto sectionAlignment =
        readAt<DWORD>(head, optionalField(l, offsetof(IMAGE_OPTIONAL_HEADER64, SectionAlignment)));
    const auto fileAlignment =
        readAt<DWORD>(head, optionalField(l, offsetof(IMAGE_OPTIONAL_HEADER64, FileAlignment)));
    const auto sizeOfHeaders =
        readAt<DWORD>(head, optionalField(l, offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfHeaders)));
    const size_t newHeader = l.sectionsOffset + l.sectionCount * sizeof(IMAGE_SECTION_HEADER);
    std::uint64_t virtualEnd = 0;
    for (WORD i = 0; i < l.sectionCount; ++i) {
        const auto s =
            readAt<IMAGE_SECTION_HEADER>(head, l.sectionsOffset + i * sizeof(IMAGE_SECTION_HEADER));
        virtualEnd = std::max<std::uint64_t>(
            virtualEnd,
            s.VirtualAddress + alignUp(std::max(s.Misc.VirtualSize, 1ul), sectionAlignment));
    }
    if (newHeader + sizeof(IMAGE_SECTION_HEADER) > sizeOfHeaders) {
        BM_THROW_MSG("the executable has no room for another section header");
    }
    for (size_t i = 0; i < sizeof(IMAGE_SECTION_HEADER); ++i) {
        if (head[newHeader + i] != 0) {
            BM_THROW_MSG("the executable has no room for another section header");
        }
    }

    // Small data first: the manifest, version and product code then keep low
    // addresses however large the package is (Wine misreads resources that
    // lie more than 2 GiB into an image).
    std::stable_sort(leaves.begin(), leaves.end(), [](const Pending& a, const Pending& b) {
        return a.data->size < b.data->size;
    });
    const DWORD rva = static_cast<DWORD>(virtualEnd);
    std::uint64_t sectionSize = tree.size();
    for (const auto& leaf : leaves) {
        IMAGE_RESOURCE_DATA_ENTRY entry = {};
        entry.OffsetToData = static_cast<DWORD>(rva + sectionSize);
        entry.Size = static_cast<DWORD>(leaf.data->size);
        const size_t at = *reinterpret_cast<const DWORD*>(tree.data() + leaf.entryOffset);
        writeAt(tree, at, entry);
        sectionSize = alignUp(sectionSize + leaf.data->size, 8);
    }
    const std::uint64_t rawSize = alignUp(sectionSize, fileAlignment);
    const std::uint64_t rawOffset = alignUp(head.size(), fileAlignment);
    const std::uint64_t imageSize = alignUp(rva + sectionSize, sectionAlignment);
    if (imageSize > 0x7fffffffull || rawOffset + rawSize > 0x7fffffffull) {
        BM_THROW_MSG("the executable would reach 2 GiB, which Windows does not load");
    }

    IMAGE_SECTION_HEADER section = {};
    std::memcpy(section.Name, ".rsrc", 5);
    section.Misc.VirtualSize = static_cast<DWORD>(sectionSize);
    section.VirtualAddress = rva;
    section.SizeOfRawData = static_cast<DWORD>(rawSize);
    section.PointerToRawData = static_cast<DWORD>(rawOffset);
    section.Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    writeAt(head, newHeader, section);
    writeAt<WORD>(head, l.ntOffset + 4 + offsetof(IMAGE_FILE_HEADER, NumberOfSections),
                  static_cast<WORD>(l.sectionCount + 1));
    // The old resource section stays, unreferenced; renamed so that tools
    // looking sections up by name find the new one.
    for (WORD i = 0; i < l.sectionCount; ++i) {
        char* name = reinterpret_cast<char*>(head.data() + l.sectionsOffset + i * sizeof(section));
        if (std::strncmp(name, ".rsrc", 8) == 0) {
            std::memcpy(name, ".rsrc~", 7);
        }
    }
    writeAt<DWORD>(head, resourceDirectoryField(l), rva);
    writeAt<DWORD>(head, resourceDirectoryField(l) + 4, static_cast<DWORD>(sectionSize));
    writeAt<DWORD>(head, optionalField(l, offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfImage)),
                   static_cast<DWORD>(imageSize));
    const size_t initialized =
        optionalField(l, offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfInitializedData));
    writeAt<DWORD>(head, initialized,
                   static_cast<DWORD>(readAt<DWORD>(head, initialized) + rawSize));
    head.resize(rawOffset);
    const size_t checksumField = optionalField(l, offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum));
    writeAt<DWORD>(head, checksumField, 0);
    PeImage::Checksum checksum;

    // Opened without truncation, and cut to length once written: truncating
    // a file to nothing makes ext4 force its data to the disk when it is
    // closed, which at hundreds of megabytes doubles the time of a wrap. The
    // caller normally hands over a file it has just created empty.
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        BM_THROW_SYSERROR("CreateFile(" << path << ") failed", CreateFileW);
    }
    const auto put = [&](const std::uint8_t* data, std::uint64_t size) {
        // WriteFile takes at most 4 GiB less one per call; smaller pieces keep
        // the system's buffers moving.
        const std::uint64_t piece = 16u << 20;
        while (size > 0) {
            const DWORD n = static_cast<DWORD>(std::min(size, piece));
            DWORD written = 0;
            if (!WriteFile(file.get(), data, n, &written, nullptr) || written != n) {
                BM_THROW_SYSERROR("WriteFile(" << path << ") failed", WriteFile);
            }
            checksum.add(data, n);
            data += n;
            size -= n;
        }
    };
    static const std::uint8_t zeros[4096] = {};
    put(head.data(), head.size());
    put(tree.data(), tree.size());
    std::uint64_t written = tree.size();
    for (const auto& leaf : leaves) {
        put(leaf.data->bytes, leaf.data->size);
        written += leaf.data->size;
        const std::uint64_t padded = alignUp(written, 8);
        put(zeros, padded - written);
        written = padded;
    }
    while (written < rawSize) {
        const std::uint64_t n = std::min<std::uint64_t>(sizeof(zeros), rawSize - written);
        put(zeros, n);
        written += n;
    }

    if (!SetEndOfFile(file.get())) {
        BM_THROW_SYSERROR("SetEndOfFile(" << path << ") failed", SetEndOfFile);
    }

    const DWORD sum = checksum.value();
    if (SetFilePointer(file.get(), static_cast<LONG>(checksumField), nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER) {
        BM_THROW_SYSERROR("SetFilePointer(" << path << ") failed", SetFilePointer);
    }
    put(reinterpret_cast<const std::uint8_t*>(&sum), sizeof(sum));
}
