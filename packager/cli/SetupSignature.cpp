#include "SetupSignature.h"

#include "Authenticode.h"
#include "FormatError.h"
#include "PeFile.h"
#include "SignatureCheck.h"
#include "ToolError.h"

namespace {

const char* const changedWords = "the file changed after signing";

}  // namespace

SetupSignature SetupSignature::of(const image::PeFile& pe) {
    SetupSignature result;
    if (!image::Authenticode::isSigned(pe)) {
        return result;
    }
    try {
        const image::Authenticode::Signed found = image::Authenticode::read(pe);
        switch (SignatureCheck::check(found.signature, found.ranges)) {
            case SignatureCheck::Verdict::intact:
                result.state = State::intact;
                break;
            case SignatureCheck::Verdict::changed:
                result.state = State::changed;
                break;
            case SignatureCheck::Verdict::unreadable:
                result.state = State::damaged;
                result.damage =
                    "it is no Authenticode SignedData with one signer and its certificate";
                break;
            case SignatureCheck::Verdict::unknownDigest:
                result.state = State::damaged;
                result.damage = "it uses a digest algorithm the tool does not know";
                break;
        }
    } catch (const image::FormatError& e) {
        result.state = State::damaged;
        result.damage = e.what();
    }
    return result;
}

std::string SetupSignature::words() const {
    switch (state) {
        case State::none:
            break;
        case State::intact:
            return "Authenticode, intact";
        case State::changed:
            return std::string("Authenticode, but ") + changedWords;
        case State::damaged:
            return "Authenticode, but damaged: " + damage;
    }
    return "none";
}

std::string SetupSignature::refusal(const std::string& path) const {
    switch (state) {
        case State::none:
        case State::intact:
            break;
        case State::changed:
            return "setup program " + quoted(path) + " carries an Authenticode signature, but " +
                   changedWords + "; sign it again";
        case State::damaged:
            return "setup program " + quoted(path) +
                   " carries a damaged Authenticode signature: " + damage;
    }
    return std::string();
}
