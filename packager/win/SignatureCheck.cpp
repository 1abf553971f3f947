#include "SignatureCheck.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

// CryptoAPI's message functions take the signature apart and check the
// signer's signature; WinVerifyTrust is left alone, as it judges the
// certificate's chain too (and Wine has no policy for it). Wine's crypt32
// decodes the SignedData, its certificates and generic sequences, and checks
// the signer's signature over the signed attributes; but it neither compares
// their message digest with the content nor hashes the content as Windows
// does (its computed hash includes the SEQUENCE's header, where PKCS #7
// hashes the octets alone), so the message digest is compared here.
namespace SignatureCheck {

namespace {

const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// SpcIndirectDataContent, what an Authenticode SignedData signs.
const char* const indirectDataOid = "1.3.6.1.4.1.311.2.1.4";

struct CloseMessage {
    void operator()(void* m) const noexcept { CryptMsgClose(m); }
};
struct CloseStore {
    void operator()(void* s) const noexcept { CertCloseStore(s, 0); }
};
struct FreeCertificate {
    void operator()(PCCERT_CONTEXT c) const noexcept { CertFreeCertificateContext(c); }
};
struct FreeLocal {
    void operator()(void* p) const noexcept { LocalFree(p); }
};
using Message = std::unique_ptr<void, CloseMessage>;
using Store = std::unique_ptr<void, CloseStore>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, FreeCertificate>;
template <class T>
using Decoded = std::unique_ptr<T, FreeLocal>;

struct Algorithm {
    // The object identifier's DER encoding, and its dotted form.
    BYTE der[11];
    DWORD size;
    const char* oid;
    LPCWSTR name;
};
const Algorithm algorithms[] = {
    {{0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a}, 7, szOID_OIWSEC_sha1, BCRYPT_SHA1_ALGORITHM},
    {{0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01},
     11,
     "2.16.840.1.101.3.4.2.1",
     BCRYPT_SHA256_ALGORITHM},
    {{0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02},
     11,
     "2.16.840.1.101.3.4.2.2",
     BCRYPT_SHA384_ALGORITHM},
    {{0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03},
     11,
     "2.16.840.1.101.3.4.2.3",
     BCRYPT_SHA512_ALGORITHM},
};

// A parameter of the message; false when it has none or it cannot be read.
bool parameter(HCRYPTMSG message, DWORD type, DWORD index, std::vector<BYTE>& out) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size)) {
        return false;
    }
    out.resize(size);
    if (!CryptMsgGetParam(message, type, index, out.data(), &size)) {
        return false;
    }
    out.resize(size);
    return true;
}

template <class T>
Decoded<T> decode(LPCSTR type, const BYTE* data, DWORD size) {
    void* out = nullptr;
    DWORD outSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &out, &outSize)) {
        return nullptr;
    }
    return Decoded<T>(static_cast<T*>(out));
}

// The elements of a DER SEQUENCE, or null.
Decoded<CRYPT_SEQUENCE_OF_ANY> sequence(const BYTE* data, DWORD size) {
    return decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, data, size);
}

bool sameBytes(const BYTE* a, DWORD aSize, const BYTE* b, DWORD bSize) {
    return aSize == bSize && (aSize == 0 || std::memcmp(a, b, aSize) == 0);
}

// The digest of `ranges` by the algorithm of this name; false when the
// system does not offer it.
bool digestOf(LPCWSTR name, const std::vector<image::ByteView>& ranges, std::vector<BYTE>& out) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, name, nullptr, 0))) {
        return false;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD length = 0;
    ULONG got = 0;
    bool done = BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_HASH_LENGTH,
                                                 reinterpret_cast<PUCHAR>(&length), sizeof length,
                                                 &got, 0)) &&
                BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
    for (const image::ByteView& range : ranges) {
        const std::uint8_t* p = range.data();
        std::uint64_t left = range.size();
        while (done && left != 0) {
            const ULONG piece = static_cast<ULONG>(std::min<std::uint64_t>(left, 1u << 30));
            done = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(p), piece, 0));
            p += piece;
            left -= piece;
        }
    }
    if (done) {
        out.resize(length);
        done = BCRYPT_SUCCESS(BCryptFinishHash(hash, out.data(), length, 0));
    }
    if (hash) {
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(provider, 0);
    return done;
}

// The message digest among the signer's signed attributes.
bool signedMessageDigest(HCRYPTMSG message, std::vector<BYTE>& out) {
    std::vector<BYTE> buffer;
    if (!parameter(message, CMSG_SIGNER_AUTH_ATTR_PARAM, 0, buffer)) {
        return false;
    }
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& a = attributes->rgAttr[i];
        if (std::strcmp(a.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0 || a.cValue != 1) {
            continue;
        }
        const Decoded<CRYPT_DATA_BLOB> digest =
            decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, a.rgValue[0].pbData, a.rgValue[0].cbData);
        if (!digest) {
            return false;
        }
        out.assign(digest->pbData, digest->pbData + digest->cbData);
        return true;
    }
    return false;
}

Verdict checkSignedData(image::ByteView signature, const std::vector<image::ByteView>& ranges) {
    if (signature.size() > MAXDWORD) {
        return Verdict::unreadable;
    }
    const Message message(CryptMsgOpenToDecode(encoding, 0, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.get(), signature.data(),
                                    static_cast<DWORD>(signature.size()), TRUE)) {
        return Verdict::unreadable;
    }
    DWORD type = 0;
    DWORD size = sizeof type;
    std::vector<BYTE> innerType;
    std::vector<BYTE> content;
    if (!CryptMsgGetParam(message.get(), CMSG_TYPE_PARAM, 0, &type, &size) || type != CMSG_SIGNED ||
        !parameter(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM, 0, innerType) ||
        innerType.empty() || innerType.back() != 0 ||
        std::strcmp(reinterpret_cast<const char*>(innerType.data()), indirectDataOid) != 0 ||
        !parameter(message.get(), CMSG_CONTENT_PARAM, 0, content)) {
        return Verdict::unreadable;
    }

    // SpcIndirectDataContent: SEQUENCE { data, messageDigest DigestInfo },
    // DigestInfo: SEQUENCE { AlgorithmIdentifier, OCTET STRING }.
    const auto fields = sequence(content.data(), static_cast<DWORD>(content.size()));
    if (!fields || fields->cValue != 2) {
        return Verdict::unreadable;
    }
    const auto digestInfo = sequence(fields->rgValue[1].pbData, fields->rgValue[1].cbData);
    if (!digestInfo || digestInfo->cValue != 2) {
        return Verdict::unreadable;
    }
    const auto algorithmId = sequence(digestInfo->rgValue[0].pbData, digestInfo->rgValue[0].cbData);
    const auto signedDigest = decode<CRYPT_DATA_BLOB>(
        X509_OCTET_STRING, digestInfo->rgValue[1].pbData, digestInfo->rgValue[1].cbData);
    if (!algorithmId || algorithmId->cValue < 1 || !signedDigest) {
        return Verdict::unreadable;
    }
    const Algorithm* algorithm = nullptr;
    for (const Algorithm& a : algorithms) {
        if (sameBytes(a.der, a.size, algorithmId->rgValue[0].pbData,
                      algorithmId->rgValue[0].cbData)) {
            algorithm = &a;
        }
    }
    std::vector<BYTE> digest;
    if (!algorithm || !digestOf(algorithm->name, ranges, digest)) {
        return Verdict::unknownDigest;
    }
    if (!sameBytes(digest.data(), static_cast<DWORD>(digest.size()), signedDigest->pbData,
                   signedDigest->cbData)) {
        return Verdict::changed;
    }

    // The one signer, its certificate among the signature's own, its signed
    // message digest against that of the content's octets (the SEQUENCE's
    // fields without its header), and its signature over them.
    DWORD signers = 0;
    size = sizeof signers;
    std::vector<BYTE> signerId;
    std::vector<BYTE> signerInfo;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) ||
        signers != 1 || !parameter(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signerId) ||
        !parameter(message.get(), CMSG_SIGNER_INFO_PARAM, 0, signerInfo)) {
        return Verdict::unreadable;
    }
    const char* signerHash =
        reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data())->HashAlgorithm.pszObjId;
    const Algorithm* signerAlgorithm = nullptr;
    for (const Algorithm& a : algorithms) {
        if (signerHash && std::strcmp(a.oid, signerHash) == 0) {
            signerAlgorithm = &a;
        }
    }
    std::vector<BYTE> contentDigest;
    if (!signerAlgorithm ||
        !digestOf(signerAlgorithm->name,
                  {image::ByteView(fields->rgValue[0].pbData, fields->rgValue[0].cbData),
                   image::ByteView(fields->rgValue[1].pbData, fields->rgValue[1].cbData)},
                  contentDigest)) {
        return Verdict::unknownDigest;
    }
    const Store store(CertOpenStore(CERT_STORE_PROV_MSG, encoding, 0, 0, message.get()));
    if (!store) {
        return Verdict::unreadable;
    }
    const Certificate certificate(CertGetSubjectCertificateFromStore(
        store.get(), encoding, reinterpret_cast<PCERT_INFO>(signerId.data())));
    std::vector<BYTE> messageDigest;
    if (!certificate || !signedMessageDigest(message.get(), messageDigest)) {
        return Verdict::unreadable;
    }
    if (contentDigest != messageDigest ||
        !CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate->pCertInfo)) {
        return Verdict::changed;
    }
    return Verdict::intact;
}

}  // namespace

Verdict check(image::ByteView signature, const std::vector<image::ByteView>& ranges) {
    return checkSignedData(signature, ranges);
}

}  // namespace SignatureCheck
