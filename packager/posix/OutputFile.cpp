#include "OutputFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "InputFileImpl.h"
#include "Paths.h"
#include "SystemError.h"

struct OutputFile::Impl {
    std::string path;     // as the user gave it, for messages
    std::string target;   // its absolute spelling, where the file goes
    std::string tmpPath;  // the sibling being written
    int fd = -1;
    std::uint64_t size = 0;
    bool committed = false;
    // Files whose mapped bytes are copied from their descriptors.
    std::vector<const InputFile::Impl*> sources;
    bool copyUnsupported = false;
    // Where the disk has been told to start writing up to.
    std::uint64_t writebackFrom = 0;

    void writeAt(std::uint64_t offset, const void* data, std::size_t count);
    std::size_t copyAt(std::uint64_t offset, const void* data, std::size_t count);
    void startWriteback();
    [[noreturn]] void failWrite(int error) const {
        SystemError::failCall("write", "", path, error);
    }
};

namespace {

// Linux moves at most this much per write() call.
const std::size_t maxChunk = 0x7ffff000;

// Opens a new sibling "qzt<number>.tmp" in the folder, never an existing file.
int createSibling(const std::string& folder, std::string& tmpPath, int& error) {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long number =
        (static_cast<unsigned long>(getpid()) << 20) ^ static_cast<unsigned long>(now.tv_nsec);
    for (int attempt = 0; attempt < 100; ++attempt, number += 7919) {
        tmpPath = Paths::join(folder, "qzt" + std::to_string(number % 100000000) + ".tmp");
        const int fd = open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        error = errno;
        if (error != EEXIST) {
            return -1;
        }
    }
    return -1;
}

// Some file systems (network and FUSE ones) cannot flush a file or a folder;
// what they hold is then as safe as they make it.
bool syncUnsupported(int error) {
    return error == EINVAL || error == ENOTSUP;
}

}  // namespace

void OutputFile::Impl::writeAt(std::uint64_t offset, const void* data, std::size_t count) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
            failWrite(EFBIG);
        }
        const std::size_t chunk = count < maxChunk ? count : maxChunk;
        const ssize_t written = pwrite(fd, bytes, chunk, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failWrite(errno);
        }
        // A full disk shows as a short write first and ENOSPC on the next call.
        if (written == 0) {
            failWrite(ENOSPC);
        }
        bytes += written;
        offset += static_cast<std::uint64_t>(written);
        count -= static_cast<std::size_t>(written);
    }
}

// Copies the bytes at `data` from the file that maps them, if one does and
// as far as the system lets it; returns how many it copied. The kernel moves
// them page cache to page cache, without this process reading or writing a
// byte: for a package of hundreds of megabytes, most of the work saved.
std::size_t OutputFile::Impl::copyAt(std::uint64_t offset, const void* data, std::size_t count) {
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const InputFile::Impl* from = nullptr;
    for (const InputFile::Impl* source : sources) {
        const auto base = reinterpret_cast<std::uintptr_t>(source->mapping);
        if (source->fd >= 0 && at >= base && at - base <= source->size &&
            count <= source->size - (at - base)) {
            from = source;
        }
    }
    if (!from || copyUnsupported || offset > static_cast<std::uint64_t>(LLONG_MAX)) {
        return 0;
    }
    auto in = static_cast<off_t>(at - reinterpret_cast<std::uintptr_t>(from->mapping));
    auto out = static_cast<off_t>(offset);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t chunk = count - done < maxChunk ? count - done : maxChunk;
        const ssize_t copied = copy_file_range(from->fd, &in, fd, &out, chunk, 0);
        if (copied > 0) {
            done += static_cast<std::size_t>(copied);
            continue;
        }
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        // Too old a kernel, two file systems it cannot copy between, a file
        // system without the call: the rest goes through this process. So
        // does a source shorter than its mapping (0).
        if (copied < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL &&
            errno != EOPNOTSUPP && errno != ENOTSUP && errno != EBADF && errno != EPERM) {
            failWrite(errno);
        }
        copyUnsupported = copied < 0;
        break;
    }
    return done;
}

// Has the disk start on what is written so far, without waiting for it: the
// flush before the rename then finds much of the file written already.
void OutputFile::Impl::startWriteback() {
#ifdef __linux__
    const std::uint64_t step = 8u << 20;
    if (size - writebackFrom >= step) {
        // Only advice: what it does not start, commit() flushes.
        sync_file_range(fd, static_cast<off_t>(writebackFrom),
                        static_cast<off_t>(size - writebackFrom), SYNC_FILE_RANGE_WRITE);
        writebackFrom = size;
    }
#endif
}

OutputFile::OutputFile(const std::string& path) : impl(new Impl) {
    impl->path = path;
    impl->target = Paths::absolute(path);
    int error = EEXIST;
    impl->fd = createSibling(Paths::folderOf(impl->target), impl->tmpPath, error);
    if (impl->fd < 0) {
        SystemError::failCall("write", "", path, error);
    }
}

OutputFile::~OutputFile() {
    if (impl->fd >= 0) {
        close(impl->fd);
    }
    if (!impl->committed && !impl->tmpPath.empty()) {
        unlink(impl->tmpPath.c_str());
    }
}

void OutputFile::append(const void* data, std::size_t size) {
    const std::size_t copied = impl->copyAt(impl->size, data, size);
    impl->writeAt(impl->size + copied, static_cast<const char*>(data) + copied, size - copied);
    impl->size += size;
    impl->startWriteback();
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

void OutputFile::commit() {
    // A replaced file keeps its mode: who may read or run it was the user's
    // choice, not the umask's.
    struct stat replaced;
    if (stat(impl->target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode) &&
        fchmod(impl->fd, replaced.st_mode & 07777) != 0) {
        impl->failWrite(errno);
    }
    // The data reaches the disk before the name does: after a crash the name
    // leads to the old file or the complete new one.
    if (fsync(impl->fd) != 0 && !syncUnsupported(errno)) {
        impl->failWrite(errno);
    }
    const int fd = impl->fd;
    impl->fd = -1;
    if (close(fd) != 0) {
        impl->failWrite(errno);
    }
    if (rename(impl->tmpPath.c_str(), impl->target.c_str()) != 0) {
        impl->failWrite(errno);
    }
    impl->committed = true;
    // And the rename itself: a new name lives in the folder's own blocks.
    const std::string folder = Paths::folderOf(impl->target);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        SystemError::failCall("write", "", folder, errno);
    }
    const int synced = fsync(dir);
    const int error = errno;
    close(dir);
    if (synced != 0 && !syncUnsupported(error)) {
        SystemError::failCall("write", "", folder, error);
    }
}
