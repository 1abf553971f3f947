#include "SignatureCheck.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <memory>

// libcrypto takes the SignedData and the SpcIndirectDataContent inside apart
// with its ASN.1 decoders, hashes with EVP and checks the signer with
// PKCS7_signatureVerify: the signed message digest against the content's
// octets, and the signature over the signed attributes against the
// certificate. The certificate's chain is not verified.
namespace SignatureCheck {

namespace {

template <class T, void (*release)(T*)>
struct Release {
    void operator()(T* p) const noexcept { release(p); }
};
void freeSequence(ASN1_SEQUENCE_ANY* s) {
    sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free);
}
using Pkcs7 = std::unique_ptr<PKCS7, Release<PKCS7, PKCS7_free>>;
using Sequence = std::unique_ptr<ASN1_SEQUENCE_ANY, Release<ASN1_SEQUENCE_ANY, freeSequence>>;
using DigestInfo = std::unique_ptr<X509_SIG, Release<X509_SIG, X509_SIG_free>>;
using Object = std::unique_ptr<ASN1_OBJECT, Release<ASN1_OBJECT, ASN1_OBJECT_free>>;
using Bio = std::unique_ptr<BIO, Release<BIO, BIO_free_all>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Release<EVP_MD_CTX, EVP_MD_CTX_free>>;

// SpcIndirectDataContent, what an Authenticode SignedData signs.
const char* const indirectDataOid = "1.3.6.1.4.1.311.2.1.4";

// The DER of a SEQUENCE inside a decoded ASN.1 value, or null.
const ASN1_STRING* sequenceOf(const ASN1_TYPE* value) {
    return value && value->type == V_ASN1_SEQUENCE ? value->value.sequence : nullptr;
}

// Whether the digest of `ranges` by `md` is `expected`.
bool digestIs(const EVP_MD* md, const std::vector<image::ByteView>& ranges,
              const ASN1_OCTET_STRING* expected) {
    const DigestContext context(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) {
        return false;
    }
    for (const image::ByteView& range : ranges) {
        if (EVP_DigestUpdate(context.get(), range.data(), range.size()) != 1) {
            return false;
        }
    }
    return EVP_DigestFinal_ex(context.get(), digest, &length) == 1 &&
           static_cast<int>(length) == ASN1_STRING_length(expected) &&
           std::memcmp(digest, ASN1_STRING_get0_data(expected), length) == 0;
}

Verdict checkSignedData(image::ByteView signature, const std::vector<image::ByteView>& ranges) {
    const unsigned char* p = signature.data();
    const Pkcs7 p7(d2i_PKCS7(nullptr, &p, static_cast<long>(signature.size())));
    if (!p7 || p != signature.data() + signature.size() || !PKCS7_type_is_signed(p7.get()) ||
        !p7->d.sign->contents) {
        return Verdict::unreadable;
    }
    const PKCS7* inner = p7->d.sign->contents;
    const Object indirectData(OBJ_txt2obj(indirectDataOid, 1));
    if (!indirectData || !inner->type || OBJ_cmp(inner->type, indirectData.get()) != 0) {
        return Verdict::unreadable;
    }
    const ASN1_STRING* content = sequenceOf(inner->d.other);
    if (!content) {
        return Verdict::unreadable;
    }
    const unsigned char* contentBytes = ASN1_STRING_get0_data(content);
    const long contentSize = ASN1_STRING_length(content);

    // SpcIndirectDataContent: SEQUENCE { data, messageDigest DigestInfo }.
    p = contentBytes;
    const Sequence fields(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, contentSize));
    if (!fields || p != contentBytes + contentSize || sk_ASN1_TYPE_num(fields.get()) != 2) {
        return Verdict::unreadable;
    }
    const ASN1_STRING* digestInfoBytes = sequenceOf(sk_ASN1_TYPE_value(fields.get(), 1));
    if (!digestInfoBytes) {
        return Verdict::unreadable;
    }
    p = ASN1_STRING_get0_data(digestInfoBytes);
    const DigestInfo digestInfo(d2i_X509_SIG(nullptr, &p, ASN1_STRING_length(digestInfoBytes)));
    if (!digestInfo) {
        return Verdict::unreadable;
    }
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* signedDigest = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &signedDigest);
    const ASN1_OBJECT* algorithmId = nullptr;
    X509_ALGOR_get0(&algorithmId, nullptr, nullptr, algorithm);
    const EVP_MD* md = EVP_get_digestbyobj(algorithmId);
    if (!md) {
        return Verdict::unknownDigest;
    }
    if (!digestIs(md, ranges, signedDigest)) {
        return Verdict::changed;
    }

    // The one signer, its certificate among the signature's own, and its
    // signature over the signed attributes, whose message digest is that of
    // the content's octets (without the SEQUENCE's header).
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    if (!signers || sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
        return Verdict::unreadable;
    }
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    // Authenticode signs its attributes, the message digest among them; a
    // signature without them is none, for the Windows tool too.
    if (!PKCS7_digest_from_attributes(signer->auth_attr)) {
        return Verdict::unreadable;
    }
    X509* certificate = X509_find_by_issuer_and_serial(
        p7->d.sign->cert, signer->issuer_and_serial->issuer, signer->issuer_and_serial->serial);
    if (!certificate) {
        return Verdict::unreadable;
    }
    const EVP_MD* signerMd = EVP_get_digestbyobj(signer->digest_alg->algorithm);
    if (!signerMd) {
        return Verdict::unknownDigest;
    }
    p = contentBytes;
    long octetsSize = 0;
    int tag = 0;
    int tagClass = 0;
    if ((ASN1_get_object(&p, &octetsSize, &tag, &tagClass, contentSize) & 0x80) ||
        octetsSize > INT_MAX) {
        return Verdict::unreadable;
    }
    Bio digestBio(BIO_new(BIO_f_md()));
    BIO* sink = BIO_new(BIO_s_null());
    if (!digestBio || !sink) {
        BIO_free(sink);
        return Verdict::unreadable;
    }
    BIO_push(digestBio.get(), sink);
    if (BIO_set_md(digestBio.get(), signerMd) != 1 ||
        (octetsSize > 0 &&
         BIO_write(digestBio.get(), p, static_cast<int>(octetsSize)) != octetsSize)) {
        return Verdict::unreadable;
    }
    return PKCS7_signatureVerify(digestBio.get(), p7.get(), signer, certificate) == 1
               ? Verdict::intact
               : Verdict::changed;
}

}  // namespace

Verdict check(image::ByteView signature, const std::vector<image::ByteView>& ranges) {
    const Verdict verdict = checkSignedData(signature, ranges);
    // What libcrypto queued on the way is not the tool's to report.
    ERR_clear_error();
    return verdict;
}

}  // namespace SignatureCheck
