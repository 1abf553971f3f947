#pragma once

#include <vector>

#include "ByteView.h"

// Whether an Authenticode signature still fits the bytes it covers, by the
// platform's cryptography (libcrypto, CryptoAPI): the digest the signature
// carries against the digest of the bytes, and the signer's signature over
// its signed attributes (which hold the digest) against the certificate the
// signature embeds. Whether that certificate deserves trust is not asked.
namespace SignatureCheck {

enum class Verdict {
    intact,
    // A digest or the signer's signature does not match: the file, or the
    // signature, changed after signing.
    changed,
    // No Authenticode SignedData with one signer and its certificate.
    unreadable,
    // A digest algorithm the platform does not offer.
    unknownDigest,
};

// `signature` is the PKCS#7 SignedData, `ranges` the bytes its digest
// covers, in order. Never raises for what the signature holds.
Verdict check(image::ByteView signature, const std::vector<image::ByteView>& ranges);

}  // namespace SignatureCheck
