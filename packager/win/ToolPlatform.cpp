#include "ToolPlatform.h"

#include <algorithm>
#include <iostream>

#include "Log.h"
#include "StagedFileWriter.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinFileUtils.h"
#include "WinSysInfo.h"
#include "WinTool.h"
#include "app.h"

namespace ToolPlatform {

namespace {

void writeLine(DWORD which, const std::string& line) {
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    // UTF-16 to a console window, UTF-8 to a file or pipe (as under Wine, or
    // when the output is redirected).
    if (GetConsoleMode(h, &mode)) {
        const tstring text = WinTool::wide(line) + L"\r\n";
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string text = line + "\r\n";
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

UniqueHandle openForReading(const tstring& path) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

std::vector<std::string> arguments(int, char**) {
    // The library logs through one process-wide logger, whose default is
    // standard output; the tool's output is its own. Static: the logger may
    // still be used while the process ends.
    static NopLogAppender quiet;
    static StreamLogAppender trace(std::cerr);
    Logger::instance().installAppender(app::isLoggingEnabled() ? static_cast<LogAppender*>(&trace)
                                                               : &quiet);
    // The process's own UTF-16 command line: main's argv is in the ANSI code
    // page, which cannot hold every name.
    std::vector<std::string> args;
    for (const tstring& arg : SysInfo::getCommandArgs(SysInfo::ExcludeProgramName)) {
        args.push_back(WinTool::utf8(arg));
    }
    return args;
}

void printOut(const std::string& line) {
    writeLine(STD_OUTPUT_HANDLE, line);
}

void printErr(const std::string& line) {
    writeLine(STD_ERROR_HANDLE, line);
}

void writeOut(const std::uint8_t* data, std::uint64_t size) {
    const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        throw ToolError("cannot write to standard output: the tool has none");
    }
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(size, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(h, data, chunk, &written, nullptr)) {
            const DWORD error = GetLastError();
            throw ToolError("cannot write to standard output: " + WinTool::describe(error));
        }
        if (written == 0) {
            throw ToolError("cannot write to standard output: nothing was written");
        }
        data += written;
        size -= written;
    }
}

bool outputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::string defaultStub() {
    // Unzipped or installed: <top>\bin\brumlet.exe and <top>\share\brumlet\,
    // as on Linux; in a build tree the stub lies beside the program, and
    // that is the path a refusal names when there is none.
    const tstring folder = FileUtils::dirname(SysInfo::getProcessModulePath());
    const tstring shared = FileUtils::joinPath(
        FileUtils::dirname(folder), FileUtils::joinPath(L"share\\brumlet", L"brumlet-wrapper.exe"));
    const tstring beside = FileUtils::joinPath(folder, L"brumlet-wrapper.exe");
    return WinTool::utf8(FileUtils::pathExists(shared) ? shared : beside);
}

std::string absolutePath(const std::string& path) {
    return WinTool::utf8(FileUtils::toAbsolutePath(WinTool::wide(path)));
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isDirectory(const std::string& path) {
    return FileUtils::isDirectory(WinTool::wide(path));
}

bool exists(const std::string& path) {
    return FileUtils::pathExists(WinTool::wide(path));
}

bool sameFile(const std::string& a, const std::string& b) {
    const tstring wa = WinTool::wide(a);
    const tstring wb = WinTool::wide(b);
    if (FileUtils::normalizePath(FileUtils::toAbsolutePath(wa)) ==
        FileUtils::normalizePath(FileUtils::toAbsolutePath(wb))) {
        return true;
    }
    const UniqueHandle fa = openForReading(wa);
    const UniqueHandle fb = openForReading(wb);
    if (!fa || !fb) {
        return false;
    }
    try {
        return FileUtils::FileId::of(fa.get(), wa) == FileUtils::FileId::of(fb.get(), wb);
    } catch (const std::runtime_error&) {
        return false;
    }
}

}  // namespace ToolPlatform
