#include "OutputFile.h"

#include "OutputFileImpl.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "FaultGuard.h"
#include "FileCopy.h"
#include "InputFileImpl.h"
#include "Paths.h"
#include "SystemError.h"
#include "ToolError.h"

struct OutputFile::Impl {
    std::string path;    // as the user gave it, for messages
    std::string folder;  // absolute, for messages
    std::string name;    // the target's name in the folder
    int dir = -1;        // the folder, held so that every step happens in it
    int fd = -1;
    // Empty while the file has no name (O_TMPFILE): a process killed then
    // leaves nothing. Otherwise the sibling being written.
    std::string sibling;
    int siblingTicket = -1;
    std::uint64_t size = 0;
    bool committed = false;
    // Files whose mapped bytes are copied from their descriptors.
    std::vector<const InputFile::Impl*> sources;
    bool copyUnsupported = false;
    // Where the disk has been told to start writing up to, and up to where
    // it has written.
    std::uint64_t writebackFrom = 0;
    std::uint64_t writtenBack = 0;
    static constexpr std::size_t writebackStep = 8u << 20;

    void writeAt(std::uint64_t offset, const void* data, std::size_t count);
    std::size_t copyAt(std::uint64_t offset, const void* data, std::size_t count);
    void startWriteback();
    void putInPlace();
    [[noreturn]] void failWrite(int error) const {
        SystemError::failCall("write", "", path, error);
    }
};

namespace {

// A new name "qzt<number>.tmp" in the folder that nothing has yet; `make`
// tries one and returns 0, or the errno that says why not.
template <class Make>
int newSiblingName(std::string& name, Make make) {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long number =
        (static_cast<unsigned long>(getpid()) << 20) ^ static_cast<unsigned long>(now.tv_nsec);
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt, number += 7919) {
        name = "qzt" + std::to_string(number % 100000000) + ".tmp";
        error = make(name);
    }
    return error;
}

// Some file systems (network and FUSE ones) cannot flush a file or a folder;
// what they hold is then as safe as they make it.
bool syncUnsupported(int error) {
    return error == EINVAL || error == ENOTSUP;
}

// Errors of a file system or kernel that has no unnamed files.
bool unnamedUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

}  // namespace

int OutputFileAccess::descriptor(const OutputFile& file) {
    return file.impl->fd;
}

void OutputFile::Impl::writeAt(std::uint64_t offset, const void* data, std::size_t count) {
    const int error = FileCopy::writeAll(fd, offset, data, count);
    // Bytes the system could not read from this process: a mapped input
    // cut short under its mapping.
    if (error == EFAULT) {
        InputFileAccess::requireAllUnchanged();
    }
    if (error != 0) {
        failWrite(error);
    }
}

// Copies the bytes at `data` from the file that maps them, if one does and
// as far as the system lets it; returns how many it copied. For a package
// of hundreds of megabytes, most of the work saved.
std::size_t OutputFile::Impl::copyAt(std::uint64_t offset, const void* data, std::size_t count) {
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    for (const InputFile::Impl* source : sources) {
        const auto base = reinterpret_cast<std::uintptr_t>(source->mapping);
        if (source->mapping && at >= base && at - base <= source->size &&
            count <= source->size - (at - base)) {
            int error = 0;
            const std::uint64_t copied = FileCopy::byKernel(source->fd, at - base, fd, offset,
                                                            count, copyUnsupported, error);
            if (error != 0) {
                failWrite(error);
            }
            return static_cast<std::size_t>(copied);
        }
    }
    return 0;
}

// Has the disk start on the step just written, and waits for the one before
// it: the disk writes while the next step is copied, the flush before the
// rename finds almost everything written already, and no more than two steps
// of the file are ever waiting in memory. A copy followed by one flush (cp
// and sync) does the two one after the other.
void OutputFile::Impl::startWriteback() {
#ifdef __linux__
    if (size - writebackFrom >= writebackStep) {
        // Only advice: what it does not start, commit() flushes.
        sync_file_range(fd, static_cast<off_t>(writebackFrom),
                        static_cast<off_t>(size - writebackFrom), SYNC_FILE_RANGE_WRITE);
        if (writebackFrom > 0) {
            sync_file_range(
                fd, static_cast<off_t>(writtenBack),
                static_cast<off_t>(writebackFrom - writtenBack),
                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
            writtenBack = writebackFrom;
        }
        writebackFrom = size;
    }
#endif
}

OutputFile::OutputFile(const std::string& path) : impl(new Impl) {
    impl->path = path;
    const std::string target = Paths::absolute(path);
    impl->folder = Paths::folderOf(target);
    impl->name = target.substr(target.rfind('/') + 1);
    impl->dir = open(impl->folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (impl->dir < 0) {
        impl->failWrite(errno);
    }
    // Read too: the package reader may read the output before it is committed.
    impl->fd = openat(impl->dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (impl->fd >= 0) {
        return;
    }
    int error = errno;
    if (unnamedUnsupported(error)) {
        error = newSiblingName(impl->sibling, [this](const std::string& name) {
            impl->fd = openat(impl->dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return impl->fd >= 0 ? 0 : errno;
        });
    }
    if (impl->fd < 0) {
        impl->sibling.clear();
        close(impl->dir);
        impl->failWrite(error);
    }
    impl->siblingTicket = FaultGuard::removeOnFault(Paths::join(impl->folder, impl->sibling));
}

OutputFile::~OutputFile() {
    if (impl->fd >= 0) {
        close(impl->fd);
    }
    if (!impl->committed && !impl->sibling.empty()) {
        unlinkat(impl->dir, impl->sibling.c_str(), 0);
    }
    FaultGuard::forget(impl->siblingTicket);
    if (impl->dir >= 0) {
        close(impl->dir);
    }
}

void OutputFile::append(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::size_t step = std::min(size, Impl::writebackStep);
        const std::size_t copied = impl->copyAt(impl->size, bytes, step);
        impl->writeAt(impl->size + copied, bytes + copied, step - copied);
        impl->size += step;
        bytes += step;
        size -= step;
        impl->startWriteback();
    }
}

void OutputFile::copiesFrom(const InputFile& source) {
    impl->sources.push_back(source.impl.get());
}

void OutputFile::patch(std::uint64_t offset, const void* data, std::size_t size) {
    if (offset > impl->size || size > impl->size - offset) {
        // The core's own mistake, not the user's; still no file is left.
        SystemError::fail("internal error: patch of " + std::to_string(size) + " bytes at " +
                          std::to_string(offset) + " past the end of '" + impl->path + "'");
    }
    impl->writeAt(offset, data, size);
}

std::uint64_t OutputFile::size() const {
    return impl->size;
}

// Gives the finished file the target's name in one step: a file without a
// name gets one of its own first (a link cannot replace), then the rename.
void OutputFile::Impl::putInPlace() {
    if (!sibling.empty()) {
        if (renameat(dir, sibling.c_str(), dir, name.c_str()) != 0) {
            failWrite(errno);
        }
        return;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const auto linkTo = [&](const std::string& to) {
        if (linkat(AT_FDCWD, self.c_str(), dir, to.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return 0;
        }
        // Without /proc, a privileged process links the descriptor itself.
        const int error = errno;
        if (error == ENOENT && linkat(fd, "", dir, to.c_str(), AT_EMPTY_PATH) == 0) {
            return 0;
        }
        return error;
    };
    int error = linkTo(name);
    if (error == 0) {
        return;
    }
    if (error != EEXIST) {
        failWrite(error);
    }
    // Replacing a file: a complete sibling for as long as two calls take,
    // left behind only if the tool is killed in between by SIGKILL.
    std::string linked;
    error = newSiblingName(linked, linkTo);
    if (error != 0) {
        failWrite(error);
    }
    const int ticket = FaultGuard::removeOnFault(Paths::join(folder, linked));
    if (renameat(dir, linked.c_str(), dir, name.c_str()) != 0) {
        error = errno;
        unlinkat(dir, linked.c_str(), 0);
        FaultGuard::forget(ticket);
        failWrite(error);
    }
    FaultGuard::forget(ticket);
}

void OutputFile::commit() {
    // What the output was made of is what was read and checked.
    InputFileAccess::requireAllUnchanged();
    struct stat replaced;
    const bool replacing = fstatat(impl->dir, impl->name.c_str(), &replaced, 0) == 0;
    // The command line refuses these; this is the last moment to see one
    // that appeared since.
    if (replacing && !S_ISREG(replaced.st_mode)) {
        SystemError::fail(
            "output '" + impl->path +
            "' is not a file but a folder, device, pipe or socket; choose another name");
    }
    // A replaced file keeps who may read or run it (the user's choice, not
    // the umask's), but never runs as its owner or group.
    if (replacing && fchmod(impl->fd, replaced.st_mode & 0777) != 0) {
        impl->failWrite(errno);
    }
    // The data reaches the disk before the name does: after a crash the name
    // leads to the old file or the complete new one.
    if (fsync(impl->fd) != 0 && !syncUnsupported(errno)) {
        impl->failWrite(errno);
    }
    impl->putInPlace();
    impl->committed = true;
    // And the name itself, which lives in the folder's own blocks.
    const int folder = openat(impl->dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int synced = folder < 0 ? -1 : fsync(folder);
    const int error = errno;
    if (folder >= 0) {
        close(folder);
    }
    if (synced != 0 && !syncUnsupported(error)) {
        SystemError::fail("'" + impl->path + "' is in place, but its folder '" + impl->folder +
                          "' cannot be flushed to disk: " + SystemError::describe(error));
    }
}
