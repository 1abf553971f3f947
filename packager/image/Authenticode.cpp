#include "Authenticode.h"

#include <algorithm>

#include "FormatError.h"
#include "PeFile.h"

namespace image {
namespace Authenticode {

namespace {

const std::uint64_t entryHeaderSize = 8;
const std::uint16_t revision2 = 0x0200;
const std::uint16_t typePkcsSignedData = 0x0002;
// Entries are padded to 8 bytes; the padding is the only thing that may
// follow the signature.
const std::uint64_t entryAlignment = 8;

// The signature's extent from its DER header: a SEQUENCE with a definite
// length, as DER has it. Only the header is read here; its contents are the
// cryptographic library's.
std::uint64_t derLength(ByteView body) {
    if (body.size() < 2 || body.data()[0] != 0x30) {
        throw FormatError("the certificate entry holds no PKCS#7 signature (no DER SEQUENCE)");
    }
    const std::uint8_t first = body.data()[1];
    std::uint64_t header = 2;
    std::uint64_t length = first;
    if (first >= 0x80) {
        const std::uint64_t count = first & 0x7f;
        if (count == 0 || count > 4 || !body.contains(2, count)) {
            throw FormatError("the PKCS#7 signature's length is malformed");
        }
        length = 0;
        for (std::uint64_t i = 0; i < count; ++i) {
            length = (length << 8) | body.data()[2 + i];
        }
        header += count;
    }
    if (length > body.size() - header) {
        throw FormatError("the PKCS#7 signature's length " + hex(length) +
                          " runs past its certificate entry");
    }
    return header + length;
}

}  // namespace

bool isSigned(const PeFile& pe) noexcept {
    return pe.directory(PeFile::certificateDirectory).size != 0;
}

Signed read(const PeFile& pe) {
    const ByteView file = pe.bytes();
    // The certificate table's directory holds a file offset, not an RVA.
    const PeFile::DataDirectory table = pe.directory(PeFile::certificateDirectory);
    const std::uint64_t start = table.rva;
    const std::uint64_t size = table.size;
    if (!file.contains(start, size)) {
        throw FormatError("the certificate table at " + hex(start) + " (" + hex(size) +
                          " bytes) lies outside the file");
    }
    if (start + size != file.size()) {
        throw FormatError(hex(file.size() - start - size) +
                          " bytes follow the certificate table, outside what its signature covers");
    }
    if (start % entryAlignment != 0) {
        throw FormatError("the certificate table at " + hex(start) + " is not aligned to 8 bytes");
    }

    // The file is hashed straight through up to the table, as Windows and
    // osslsigncode do: the headers, every section's data, the alignment gaps
    // between them (a setup program has one before its resources) and what
    // follows them. The table must lie after all of it, or section data
    // inside the table would be left out.
    std::uint64_t end = pe.sizeOfHeaders();
    for (const PeFile::Section& s : pe.sections()) {
        if (s.sizeOfRawData != 0) {
            end = std::max<std::uint64_t>(end, std::uint64_t(s.pointerToRawData) + s.sizeOfRawData);
        }
    }
    if (end > start) {
        throw FormatError("the certificate table at " + hex(start) +
                          " lies inside the sections' data, which end at " + hex(end));
    }

    Signed result;
    const std::uint64_t checksum = pe.checksumOffset();
    const std::uint64_t entry = pe.directoryOffset(PeFile::certificateDirectory);
    result.ranges = {ByteView(file.data(), checksum),
                     ByteView(file.data() + checksum + 4, entry - (checksum + 4)),
                     ByteView(file.data() + entry + 8, start - (entry + 8))};

    if (size < entryHeaderSize) {
        throw FormatError("the certificate table (" + hex(size) +
                          " bytes) is too small for a certificate entry");
    }
    const std::uint32_t length = file.u32(start, "the certificate entry");
    const std::uint16_t revision = file.u16(start + 4, "the certificate entry");
    const std::uint16_t type = file.u16(start + 6, "the certificate entry");
    if (revision != revision2) {
        throw FormatError("the certificate entry has the revision " + hex(revision) +
                          ", not 0x200");
    }
    if (type != typePkcsSignedData) {
        throw FormatError("the certificate entry is of type " + hex(type) +
                          ", not a PKCS#7 signature (0x2)");
    }
    if (length < entryHeaderSize || length > size) {
        throw FormatError("the certificate entry's length " + hex(length) +
                          " does not fit in the certificate table of " + hex(size) + " bytes");
    }
    const ByteView body =
        file.sub(start + entryHeaderSize, length - entryHeaderSize, "the certificate entry");
    result.signature = ByteView(body.data(), derLength(body));
    const std::uint64_t after = start + entryHeaderSize + result.signature.size();
    const std::uint64_t rest = file.size() - after;
    if (rest >= entryAlignment || std::any_of(file.data() + after, file.data() + file.size(),
                                              [](std::uint8_t b) { return b != 0; })) {
        throw FormatError("the certificate table holds " + hex(rest) +
                          " bytes beside its one signature");
    }
    return result;
}

}  // namespace Authenticode
}  // namespace image
