#pragma once

#include <vector>

#include "ByteView.h"

namespace image {

class PeFile;

// Where an Authenticode signature lies in a PE image and which of the
// image's bytes its digest covers. Both tools take these from here, so that
// they hash the same bytes; the cryptography is the platform's.
namespace Authenticode {

struct Signed {
    // The bytes the digest covers, in the order they are hashed: the whole
    // file up to the certificate table, less the optional header's CheckSum
    // and the certificate table's directory entry.
    std::vector<ByteView> ranges;
    // The PKCS#7 SignedData (DER) of the table's one certificate entry.
    ByteView signature;
};

// Whether the image has a certificate table at all.
bool isSigned(const PeFile& pe) noexcept;

// Raises FormatError when the table is misplaced (inside the headers or the
// sections' data, or with bytes after it, which no digest would cover) or
// holds anything but one PKCS#7 certificate entry, where readers could
// disagree on which signature counts. The image must have passed
// PeFile::checkLayout.
Signed read(const PeFile& pe);

}  // namespace Authenticode
}  // namespace image
