#pragma once

#include <cstdint>

namespace image {

// The code pages of a string pool that libmsi and Windows Installer decode
// the same way, byte for byte: measured by storing bytes 0x80-0xFF in a
// package's strings under each code page and comparing what each library
// reads. Other pages are refused: the libraries either refuse them (708,
// 720, 10001 in libmsi), crash (856 in msi.dll), lose the strings (28591,
// 28592, 20127 in libmsi) or decode some bytes differently (1258 composes
// accents in libmsi only, 10000 maps 0xC6 apart, 932 drops what msi.dll
// reads). 932, 936, 949, 950 and 1258 read ASCII alike.
namespace CodePages {

// The list for messages.
constexpr const char* kAccepted =
    "0 (none named: read as 1252), 437, 850, 866, 874, 1250-1257, 65001 (UTF-8), and with ASCII "
    "strings only 932, 936, 949, 950 and 1258";

// Bytes 0x80-0xFF of a single-byte page as UTF-16, 0 for a byte the page
// leaves undefined (which libmsi drops the whole string for and Windows
// Installer keeps); null for a page that is not one of them.
const char16_t* highHalf(std::uint32_t page);

}  // namespace CodePages
}  // namespace image
