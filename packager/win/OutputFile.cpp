#include "OutputFile.h"

#include "OutputFileImpl.h"

#include <algorithm>
#include <vector>

#include "ScopedDeleter.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinFileUtils.h"
#include "WinTool.h"

struct OutputFile::Impl {
    std::string path;
    tstring target;
    tstring sibling;
    // Declared before the handle: the file is closed before it is removed.
    FileUtils::ScopedDeleter cleaner;
    UniqueHandle file;
    std::uint64_t written = 0;

    [[noreturn]] void fail(DWORD error) const {
        throw ToolError("cannot write " + quoted(path) + ": " + WinTool::describe(error));
    }

    void write(const void* data, std::size_t size) {
        // A megabyte at a time: Linux copies a mapped file into another about
        // three times faster so than in one write of hundreds of megabytes.
        const std::size_t piece = 1024 * 1024;
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            DWORD done = 0;
            if (!WriteFile(file.get(), p, static_cast<DWORD>(std::min(size, piece)), &done,
                           nullptr)) {
                fail(GetLastError());
            }
            if (done == 0) {
                fail(ERROR_WRITE_FAULT);
            }
            p += done;
            size -= done;
        }
    }

    void seek(std::uint64_t offset) const {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN)) {
            fail(GetLastError());
        }
    }
};

tstring OutputFileAccess::sibling(const OutputFile& file) {
    return file.impl->sibling;
}

OutputFile::OutputFile(const std::string& path) : impl(new Impl) {
    impl->path = path;
    impl->target = FileUtils::toAbsolutePath(WinTool::wide(path));
    // The handle that creates the sibling writes and renames it: no other
    // process gets a writing handle of its own in between. A failure names
    // the user's path and the system's reason, not the sibling.
    const tstring folder = FileUtils::dirname(impl->target);
    const DWORD start = GetTickCount();
    DWORD error = ERROR_FILE_EXISTS;
    for (DWORD i = 0; i < 100 && !impl->file; ++i) {
        const std::int32_t number = static_cast<std::int32_t>(start + i);
        const tstring sibling = FileUtils::joinPath(
            folder, (tstrings::MessageBuilder() << L"qzt" << number << L".tmp").tstr());
        impl->file.reset(CreateFileW(sibling.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE,
                                     FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
        if (impl->file) {
            impl->sibling = sibling;
        } else if ((error = GetLastError()) != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (!impl->file) {
        impl->fail(error);
    }
    impl->cleaner.addFile(impl->sibling);
}

OutputFile::~OutputFile() = default;

void OutputFile::append(const void* data, std::size_t size) {
    impl->write(data, size);
    impl->written += size;
}

void OutputFile::patch(std::uint64_t offset, const void* data, std::size_t size) {
    if (offset > impl->written || size > impl->written - offset) {
        throw std::logic_error("OutputFile::patch beyond the bytes written");
    }
    impl->seek(offset);
    impl->write(data, size);
    impl->seek(impl->written);
}

// Windows has no copy between files at given offsets worth the trouble here;
// WriteFile from the mapping is what the tool measured fast enough.
void OutputFile::copiesFrom(const InputFile&) {}

std::uint64_t OutputFile::size() const {
    return impl->written;
}

void OutputFile::commit() {
    // On disk before the name leads to it: after a power loss the name gives
    // the old file or the whole new one, never a file of the new length with
    // blocks that were never written.
    if (!FlushFileBuffers(impl->file.get())) {
        impl->fail(GetLastError());
    }
    // A replaced file keeps its attributes; a read-only one (the command has
    // decided to replace it) gives way for the rename and is read-only again.
    const tstring& target = impl->target;
    const DWORD replaced = GetFileAttributesW(target.c_str());
    const bool keep = replaced != INVALID_FILE_ATTRIBUTES && !(replaced & FILE_ATTRIBUTE_DIRECTORY);
    if (keep && (replaced & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesW(target.c_str(), replaced & ~FILE_ATTRIBUTE_READONLY)) {
        impl->fail(GetLastError());
    }
    // Renamed through the handle that wrote it; a sibling is on the same volume.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                      (target.size() + 1) * sizeof(wchar_t));
    auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    if (!SetFileInformationByHandle(impl->file.get(), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
        const DWORD error = GetLastError();
        if (keep && (replaced & FILE_ATTRIBUTE_READONLY)) {
            SetFileAttributesW(target.c_str(), replaced);
        }
        impl->fail(error);
    }
    impl->cleaner.cancel();
    // Closing is where a delayed write error would show.
    if (!CloseHandle(impl->file.release())) {
        impl->fail(GetLastError());
    }
    if (keep && !SetFileAttributesW(target.c_str(), replaced)) {
        impl->fail(GetLastError());
    }
}
