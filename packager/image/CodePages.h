#pragma once

#include <cstdint>

namespace image {

// The code pages of a string pool that libmsi and Windows Installer decode
// the same way, byte for byte: measured by storing bytes 0x80-0xFF in a
// package's strings under each code page and comparing what each library
// reads. Other pages are refused: the libraries either refuse them, crash,
// or decode some bytes differently (1258 composes accents in one library
// only; 10000 maps 0xC6 to different characters; 28591 loses the strings
// in libmsi).
namespace CodePages {

// The list for messages.
constexpr const char* kAccepted =
    "0 (ASCII strings only), 437, 850, 866, 874, 1250-1257 and 65001 (UTF-8)";

// Bytes 0x80-0xFF of a single-byte page as UTF-16, 0 for a byte the page
// leaves undefined (which libmsi drops the whole string for and Windows
// Installer keeps); null for a page that is not one of them.
const char16_t* highHalf(std::uint32_t page);

}  // namespace CodePages
}  // namespace image
