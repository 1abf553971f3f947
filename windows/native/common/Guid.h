#pragma once

#include <windows.h>

#include <string>

#include "tstrings.h"

// One 128-bit GUID, the form Windows Installer product codes travel in.
// Parsing accepts the text with or without braces and with or without dashes;
// printing gives the installer's braced upper-case form unless told otherwise.
class Guid {
public:
    // Flags of toString(); combine them with |.
    enum StringFlag { WithoutBraces = 0x1, WithoutDashes = 0x2, Lowercase = 0x4 };

    Guid();
    explicit Guid(const GUID& value);
    explicit Guid(const tstring& str);
    // Bytes are widened one by one: meant for ASCII text such as a product
    // code read from a resource.
    explicit Guid(const std::string& str);

    tstring toString(int flags = 0) const;

    static Guid generate();

    const GUID& value() const noexcept { return guid; }

    bool operator==(const Guid& other) const;
    bool operator!=(const Guid& other) const { return !(*this == other); }
    // Orders by the default text form, so sorted GUIDs read in the order the
    // installer's tables and logs show them.
    bool operator<(const Guid& other) const;

private:
    GUID guid;
};
