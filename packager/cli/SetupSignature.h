#pragma once

#include <string>

namespace image {
class PeFile;
}

// What the tool says of a setup program's Authenticode signature: whether
// the file is still the one that was signed. Whether the signer deserves
// trust (the certificate's chain) is the system's to judge when it runs the
// program; this is integrity only.
struct SetupSignature {
    enum class State { none, intact, changed, damaged };
    State state = State::none;
    // What is wrong with a damaged signature.
    std::string damage;

    // Reads and checks the signature of an image that passed checkLayout.
    static SetupSignature of(const image::PeFile& pe);

    // "none", "Authenticode, intact", "Authenticode, but the file changed
    // after signing", or "Authenticode, but damaged: ...".
    std::string words() const;
    // The one line `check` fails with, naming the program as `path`; empty
    // when there is no signature or it is intact.
    std::string refusal(const std::string& path) const;
};
