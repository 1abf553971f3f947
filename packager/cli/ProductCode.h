#pragma once

#include <string>

// Product codes as the installer writes them: a GUID in braces, upper-case
// hexadecimal digits.
namespace ProductCode {

// Whether `text` is a GUID in the braced form the installer insists on
// ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", digits in either case).
bool isBraced(const std::string& text);

// The braced upper-case form of a GUID given braced, without braces, without
// dashes or without either, as a setup program's embedded text may be;
// empty when `text` is none of these.
std::string canonical(const std::string& text);

// The text with control characters and byte order marks shown as escapes
// ("\r\n", "\u0009"): a code pasted with a line break looks right otherwise.
std::string visible(const std::string& text);

}  // namespace ProductCode
