#include "Console.h"

#include <windows.h>

namespace Console {

namespace {

void writeLine(DWORD which, const tstring& line) {
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        return;
    }
    const tstring text = line + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    // Output is best effort: a closed pipe must not turn success into failure.
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = tstrings::toUtf8(text);
    WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

void out(const tstring& line) {
    writeLine(STD_OUTPUT_HANDLE, line);
}

void err(const tstring& line) {
    writeLine(STD_ERROR_HANDLE, line);
}

}  // namespace Console
