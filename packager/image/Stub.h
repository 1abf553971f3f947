#pragma once

#include "FormatError.h"

namespace image {

class PeFile;
class ResourceTree;

// Why a sound executable cannot serve as the stub. Unlike other format
// errors its words continue the stub's name: "stub 'x.exe' " + what().
class StubRefusal : public FormatError {
public:
    using FormatError::FormatError;
};

namespace Stub {

// The resource only Brumlet's bare stub carries: RCDATA "BRUMLET_STUB".
extern const char16_t markName[];

// Checks that a setup program can be made from the image: PE32+ for x64, the
// GUI subsystem, no DLL, the layout PeFile::checkLayout asks of any program,
// room for one more section header, no signature, no package yet, and Brumlet's
// mark. Raises StubRefusal for a program that is no stub, FormatError for
// damage.
void check(const PeFile& image, const ResourceTree& resources);

}  // namespace Stub

}  // namespace image
