#include "PeImage.h"

#include <cstring>
#include <vector>

#include "ErrorHandling.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"

namespace PeImage {

namespace {

UniqueHandle openFile(const tstring& path, DWORD access) {
    UniqueHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        BM_THROW_SYSERROR("CreateFile(" << path << ") failed", CreateFileW);
    }
    return file;
}

// Reads up to `size` bytes; fewer only at the end of the file.
DWORD readSome(HANDLE file, const tstring& path, void* buffer, DWORD size) {
    DWORD done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(file, static_cast<char*>(buffer) + done, size - done, &got, nullptr)) {
            BM_THROW_SYSERROR("ReadFile(" << path << ") failed", ReadFile);
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

template <class T>
T readAt(const std::vector<std::uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

DWORD checksumOf(HANDLE file, const tstring& path, DWORD checksumOffset) {
    const DWORD chunk = 1 << 20;
    std::vector<std::uint8_t> buffer(chunk);
    Checksum checksum;
    std::uint64_t offset = 0;
    for (;;) {
        const DWORD got = readSome(file, path, buffer.data(), chunk);
        for (DWORD i = 0; i < 4; ++i) {
            const std::uint64_t at = checksumOffset + i;
            if (at >= offset && at < offset + got) {
                buffer[at - offset] = 0;
            }
        }
        checksum.add(buffer.data(), got);
        offset += got;
        if (got < chunk) {
            break;
        }
    }
    return checksum.value();
}

Headers parseHeaders(HANDLE file, const tstring& path) {
    std::vector<std::uint8_t> bytes(4096);
    bytes.resize(readSome(file, path, bytes.data(), static_cast<DWORD>(bytes.size())));

    const auto notPe = [&path]() { BM_THROW_MSG(path << " is not a Windows executable"); };
    if (bytes.size() < sizeof(IMAGE_DOS_HEADER) || readAt<WORD>(bytes, 0) != IMAGE_DOS_SIGNATURE) {
        notPe();
    }
    const auto ntOffset = readAt<LONG>(bytes, offsetof(IMAGE_DOS_HEADER, e_lfanew));
    const size_t optionalOffset = static_cast<size_t>(ntOffset) + 4 + sizeof(IMAGE_FILE_HEADER);
    if (ntOffset < 0 || optionalOffset + 2 > bytes.size() ||
        readAt<DWORD>(bytes, static_cast<size_t>(ntOffset)) != IMAGE_NT_SIGNATURE) {
        notPe();
    }

    Headers headers;
    headers.machine = readAt<WORD>(
        bytes, static_cast<size_t>(ntOffset) + 4 + offsetof(IMAGE_FILE_HEADER, Machine));
    headers.magic = readAt<WORD>(bytes, optionalOffset);
    if (headers.magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        // A 32-bit image keeps its fields at other offsets; nothing more is read.
        return headers;
    }
    if (optionalOffset + sizeof(IMAGE_OPTIONAL_HEADER64) > bytes.size()) {
        notPe();
    }
    headers.checksumOffset =
        static_cast<DWORD>(optionalOffset + offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum));
    headers.checksum = readAt<DWORD>(bytes, headers.checksumOffset);
    headers.subsystem =
        readAt<WORD>(bytes, optionalOffset + offsetof(IMAGE_OPTIONAL_HEADER64, Subsystem));
    const auto directories = readAt<DWORD>(
        bytes, optionalOffset + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes));
    if (directories > IMAGE_DIRECTORY_ENTRY_SECURITY) {
        headers.certificateSize =
            readAt<DWORD>(bytes, optionalOffset + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) +
                                     IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY) +
                                     offsetof(IMAGE_DATA_DIRECTORY, Size));
    }
    return headers;
}

Headers parseImage64Headers(HANDLE file, const tstring& path) {
    const Headers headers = parseHeaders(file, path);
    if (headers.magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        BM_THROW_MSG(path << " is not a PE32+ image");
    }
    return headers;
}

}  // namespace

Headers readHeaders(const tstring& path) {
    UniqueHandle file = openFile(path, GENERIC_READ);
    return parseHeaders(file.get(), path);
}

bool isGuiImage64(const Headers& headers) {
    return headers.machine == IMAGE_FILE_MACHINE_AMD64 &&
           headers.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC &&
           headers.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

DWORD computeChecksum(const tstring& path) {
    UniqueHandle file = openFile(path, GENERIC_READ);
    const Headers headers = parseImage64Headers(file.get(), path);
    if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        BM_THROW_SYSERROR("SetFilePointer(" << path << ") failed", SetFilePointer);
    }
    return checksumOf(file.get(), path, headers.checksumOffset);
}

void Checksum::add(const void* data, size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    total += size;
    // Summing 32-bit words and folding at the end gives the same 16-bit one's
    // complement sum as adding word by word, at a fraction of the cost; a word
    // split between two pieces is completed first.
    for (; size > 0 && filled > 0; ++p, --size) {
        word |= static_cast<std::uint32_t>(*p) << (8 * filled);
        if (++filled == 4) {
            sum += word;
            word = 0;
            filled = 0;
        }
    }
    for (; size >= 4; p += 4, size -= 4) {
        std::uint32_t w;
        std::memcpy(&w, p, 4);
        sum += w;
    }
    for (; size > 0; ++p, --size) {
        word |= static_cast<std::uint32_t>(*p) << (8 * filled++);
    }
}

DWORD Checksum::value() const {
    std::uint64_t s = sum + word;
    s = (s & 0xffffffffu) + (s >> 32);
    s = (s & 0xffffffffu) + (s >> 32);
    s = (s & 0xffff) + (s >> 16);
    s = (s & 0xffff) + (s >> 16);
    s = (s & 0xffff) + (s >> 16);
    return static_cast<DWORD>(s + total);
}

}  // namespace PeImage
