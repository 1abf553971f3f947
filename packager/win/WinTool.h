#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "tstrings.h"

// What the Windows side of the tool shares: text crosses from the command
// line's UTF-8 to Windows' UTF-16 here, and the library's located errors
// become the one-line words the user sees.
namespace WinTool {

tstring wide(const std::string& utf8);
std::string utf8(const tstring& text);

// The system's description of an error code, without the trailing period.
std::string describe(DWORD error);

// An error's own words, without the source location a library error carries.
std::string bareMessage(const std::exception& e);

}  // namespace WinTool
