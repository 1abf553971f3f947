#pragma once

#include <string>

namespace image {

// The core keeps resource names and version texts in UTF-16, as the file
// formats do; the tool speaks UTF-8.
namespace Utf16 {

// Raises FormatError on bytes that are no UTF-8.
std::u16string fromUtf8(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string toUtf8(const std::u16string& text);

}  // namespace Utf16

}  // namespace image
