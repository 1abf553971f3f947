#include "PackageReader.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "InputFile.h"
#include "InputFileAccess.h"
#include "OutputFileImpl.h"
#include "ReaderProcess.h"
#include "ScopedDeleter.h"
#include "StagedFileWriter.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinFileUtils.h"
#include "WinTool.h"

namespace PackageReader {

PackageFacts read(const InputFile& package, const std::string& label) {
    return ReaderProcess::read(InputFileAccess::handle(package), label);
}

namespace {

const wchar_t copyPrefix[] = L"brm";
const wchar_t copySuffix[] = L".msi";

// The name of a copy as newCopy makes them, or as the tool made them before.
bool isCopyName(const tstring& name) {
    const std::size_t prefix = std::wcslen(copyPrefix);
    const std::size_t suffix = std::wcslen(copySuffix);
    if (name.size() <= prefix + suffix || name.compare(0, prefix, copyPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, copySuffix) != 0) {
        return false;
    }
    std::size_t at = prefix;
    if (name[at] == L'-') {
        ++at;
    }
    const std::size_t end = name.size() - suffix;
    if (at == end || end - at > 10) {
        return false;
    }
    for (; at < end; ++at) {
        if (name[at] < L'0' || name[at] > L'9') {
            return false;
        }
    }
    return true;
}

// A tool ended from outside while it read (killed, its console closed)
// leaves its copy behind: msi.dll opens no file whose deletion is shared,
// so a copy cannot be deleted on close. Such copies go when the next copy
// is made: those written before this tool started and held by no one. Every
// copy is held, its deletion not shared, from its creation to its removal,
// so a copy in use cannot be deleted. All of this is best effort.
void sweepLeftCopies(const tstring& dir) {
    FILETIME started;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(GetCurrentProcess(), &started, &exited, &kernel, &user)) {
        return;
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(
        FileUtils::joinPath(dir, tstring(copyPrefix) + L"*" + copySuffix).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            isCopyName(found.cFileName) && CompareFileTime(&found.ftLastWriteTime, &started) < 0) {
            DeleteFileW(FileUtils::joinPath(dir, found.cFileName).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A new file for a copy, held from its creation on: read and written by this
// handle only, deleted by no one else while it is open.
UniqueHandle newCopy(const tstring& dir, tstring& path) {
    const DWORD tick = GetTickCount();
    DWORD error = ERROR_SUCCESS;
    for (DWORD i = 0; i < 100; ++i) {
        path = FileUtils::joinPath(dir, copyPrefix + std::to_wstring(tick + i) + copySuffix);
        UniqueHandle copy(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (copy) {
            return copy;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    throw ToolError(WinTool::describe(error));
}

PackageFacts readRange(HANDLE from, std::uint64_t offset, std::uint64_t size,
                       const std::string& label) {
    // msi.dll opens packages by name only: the package goes into a file of
    // its own, copied a megabyte at a time through the setup program's
    // handle, so that neither a copy nor the mapping's pages are held whole.
    FileUtils::ScopedDeleter cleaner;
    UniqueHandle copy;
    tstring tmp;
    try {
        const tstring dir = FileUtils::getTempDirectory();
        sweepLeftCopies(dir);
        copy = newCopy(dir, tmp);
        cleaner.addFile(tmp);
        std::vector<char> buffer(1 << 20);
        for (std::uint64_t done = 0; done < size;) {
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset + done);
            at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
            DWORD got = 0;
            if (!ReadFile(from, buffer.data(),
                          static_cast<DWORD>(std::min<std::uint64_t>(size - done, buffer.size())),
                          &got, &at)) {
                throw ToolError(WinTool::describe(GetLastError()));
            }
            if (got == 0) {
                throw ToolError(WinTool::describe(ERROR_HANDLE_EOF));
            }
            FileUtils::writeAll(copy.get(), buffer.data(), got, tmp);
            done += got;
        }
        // msi.dll opens the package shared with readers only: the handle
        // that hands it over must not write.
        copy.reset(ReOpenFile(copy.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
        if (!copy) {
            throw ToolError(WinTool::describe(GetLastError()));
        }
    } catch (const std::runtime_error& e) {
        throw ToolError("cannot copy " + label +
                        " to the temporary folder: " + WinTool::bareMessage(e));
    }
    return ReaderProcess::read(copy.get(), label);
}

}  // namespace

PackageFacts read(const InputFile& file, std::uint64_t offset, std::uint64_t size,
                  const std::string& label) {
    return readRange(InputFileAccess::handle(file), offset, size, label);
}

// The output's own handle writes, and msi.dll opens no file that another
// handle writes: what it holds so far is read as a range of it.
PackageFacts read(const OutputFile& output, const std::string& label) {
    const tstring sibling = OutputFileAccess::sibling(output);
    const UniqueHandle file(CreateFileW(sibling.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        throw ToolError("cannot read " + label + ": " + WinTool::describe(GetLastError()));
    }
    return readRange(file.get(), 0, static_cast<std::uint64_t>(size.QuadPart), label);
}

}  // namespace PackageReader
