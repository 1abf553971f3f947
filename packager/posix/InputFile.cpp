#include "InputFile.h"

#include "InputFileImpl.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Descriptor.h"
#include "FaultGuard.h"
#include "SystemError.h"
#include "ToolError.h"

namespace {

// Every input open in the process.
std::mutex openLock;
std::vector<const InputFile*> openInputs;

bool changed(int fd, const struct stat& then) {
    struct stat now;
    if (fstat(fd, &now) != 0) {
        return true;
    }
    // The bytes' own marks only: a rename or a change of permissions (which
    // changes the status time) leaves the bytes as they were.
    return now.st_size != then.st_size || now.st_ino != then.st_ino || now.st_dev != then.st_dev ||
           now.st_mtim.tv_sec != then.st_mtim.tv_sec || now.st_mtim.tv_nsec != then.st_mtim.tv_nsec;
}

void forgetInput(const InputFile* input) noexcept {
    const std::lock_guard<std::mutex> lock(openLock);
    openInputs.erase(std::remove(openInputs.begin(), openInputs.end(), input), openInputs.end());
}

}  // namespace

void InputFileAccess::requireUnchanged(const InputFile& file) {
    if (changed(file.impl->fd, file.impl->opened)) {
        throw ToolError(FaultGuard::changedMessage(file.path()));
    }
}

void InputFileAccess::requireAllUnchanged() {
    std::vector<const InputFile*> inputs;
    {
        const std::lock_guard<std::mutex> lock(openLock);
        inputs = openInputs;
    }
    for (const InputFile* input : inputs) {
        requireUnchanged(*input);
    }
}

InputFile::InputFile(const std::string& path, const std::string& what) : impl(new Impl) {
    impl->path = path;
    // Non-blocking: opening a named pipe for reading would wait for a writer.
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            SystemError::fail(what + " '" + path + "' does not exist");
        }
        if (error == EISDIR) {
            SystemError::fail(what + " '" + path + "' is a folder, not a file");
        }
        SystemError::failCall("read", what, path, error);
    }
    struct stat info;
    if (fstat(file.get(), &info) != 0) {
        SystemError::failCall("read", what, path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        SystemError::fail(what + " '" + path + "' is a folder, not a file");
    }
    // Pipes, sockets and devices have no size to check offsets against.
    if (!S_ISREG(info.st_mode)) {
        SystemError::fail("cannot read " + what + " '" + path + "': not a regular file");
    }
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    if (size > SIZE_MAX) {
        SystemError::fail("cannot read " + what + " '" + path + "': too large to map");
    }
    if (size > 0) {
        void* mapping =
            mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, file.get(), 0);
        if (mapping == MAP_FAILED) {
            SystemError::failCall("read", what, path, errno);
        }
        // Most files are read once from front to back; a refused hint costs nothing.
        madvise(mapping, static_cast<size_t>(size), MADV_SEQUENTIAL);
        impl->mapping = mapping;
        impl->size = size;
        // A file cut short meanwhile faults on the pages past its new end.
        impl->faultTicket = FaultGuard::watchMapping(mapping, static_cast<size_t>(size), path);
    }
    impl->opened = info;
    impl->fd = file.release();
    const std::lock_guard<std::mutex> lock(openLock);
    openInputs.push_back(this);
}

InputFile::~InputFile() {
    forgetInput(this);
    FaultGuard::forget(impl->faultTicket);
    if (impl->mapping) {
        munmap(impl->mapping, static_cast<size_t>(impl->size));
    }
    if (impl->fd >= 0) {
        close(impl->fd);
    }
}

const std::uint8_t* InputFile::data() const noexcept {
    return static_cast<const std::uint8_t*>(impl->mapping);
}

std::uint64_t InputFile::size() const noexcept {
    return impl->size;
}

const std::string& InputFile::path() const noexcept {
    return impl->path;
}
