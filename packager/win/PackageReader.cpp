#include "PackageReader.h"

#include <algorithm>
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

PackageFacts readRange(HANDLE from, std::uint64_t offset, std::uint64_t size,
                       const std::string& label) {
    // msi.dll opens packages by name only: the package goes into a file of
    // its own, copied a megabyte at a time through the setup program's
    // handle, so that neither a copy nor the mapping's pages are held whole.
    FileUtils::ScopedDeleter cleaner;
    UniqueHandle copy;
    tstring tmp;
    try {
        tmp = FileUtils::createTempFile(L"brm", L".msi", FileUtils::getTempDirectory());
        cleaner.addFile(tmp);
        copy.reset(CreateFileW(tmp.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               TRUNCATE_EXISTING, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (!copy) {
            throw ToolError(WinTool::describe(GetLastError()));
        }
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
