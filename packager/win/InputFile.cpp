#include "InputFile.h"

#include "InputFileAccess.h"

#include "MappedFile.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinFileUtils.h"
#include "WinTool.h"

struct InputFile::Impl {
    std::string path;
    // Shared with readers only: nobody changes the bytes while they are read,
    // and the installer library may still open the file to read it.
    UniqueHandle file;
    std::unique_ptr<MappedFile> mapping;
};

InputFile::InputFile(const std::string& path, const std::string& what) : impl(new Impl) {
    impl->path = path;
    const tstring widePath = WinTool::wide(path);
    impl->file.reset(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!impl->file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            throw ToolError(what + " " + quoted(path) + " does not exist");
        }
        if (FileUtils::isDirectory(widePath)) {
            throw ToolError(what + " " + quoted(path) + " is a folder, not a file");
        }
        throw ToolError("cannot read " + what + " " + quoted(path) + ": " +
                        WinTool::describe(error));
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(impl->file.get(), &info)) {
        const DWORD error = GetLastError();
        throw ToolError("cannot read " + what + " " + quoted(path) + ": " +
                        WinTool::describe(error));
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        throw ToolError(what + " " + quoted(path) + " is a folder, not a file");
    }
    try {
        impl->mapping.reset(new MappedFile(impl->file.get(), widePath));
    } catch (const std::runtime_error& e) {
        throw ToolError("cannot read " + what + " " + quoted(path) + ": " +
                        WinTool::bareMessage(e));
    }
}

// The mapping goes before the handle it was made from (members in order).
InputFile::~InputFile() = default;

const std::uint8_t* InputFile::data() const noexcept {
    return impl->mapping->data();
}

std::uint64_t InputFile::size() const noexcept {
    return impl->mapping->size();
}

const std::string& InputFile::path() const noexcept {
    return impl->path;
}

HANDLE InputFileAccess::handle(const InputFile& file) {
    return file.impl->file.get();
}
