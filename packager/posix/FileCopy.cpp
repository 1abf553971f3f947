#include "FileCopy.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>

namespace FileCopy {

namespace {

// Linux moves at most this much per call.
const std::uint64_t maxChunk = 0x7ffff000;

bool fitsOffset(std::uint64_t offset, std::uint64_t count) {
    const auto most = static_cast<std::uint64_t>(LLONG_MAX);
    return offset <= most && count <= most - offset;
}

}  // namespace

std::uint64_t byKernel(int from, std::uint64_t in, int to, std::uint64_t out, std::uint64_t count,
                       bool& unsupported, int& error) {
    error = 0;
    if (unsupported || !fitsOffset(in, count) || !fitsOffset(out, count)) {
        return 0;
    }
    auto inAt = static_cast<off_t>(in);
    auto outAt = static_cast<off_t>(out);
    std::uint64_t done = 0;
    while (done < count) {
        const std::uint64_t chunk = count - done < maxChunk ? count - done : maxChunk;
        const ssize_t copied =
            copy_file_range(from, &inAt, to, &outAt, static_cast<std::size_t>(chunk), 0);
        if (copied > 0) {
            done += static_cast<std::uint64_t>(copied);
            continue;
        }
        if (copied == 0) {
            break;  // the source is shorter than the caller thought
        }
        const int failure = errno;
        if (failure == EINTR) {
            continue;
        }
        // Too old a kernel, two file systems it cannot copy between, a file
        // system without the call: the rest goes through the caller.
        if (failure == EXDEV || failure == ENOSYS || failure == EINVAL || failure == EOPNOTSUPP ||
            failure == ENOTSUP || failure == EBADF || failure == EPERM) {
            unsupported = true;
        } else {
            error = failure;
        }
        break;
    }
    return done;
}

int writeAll(int fd, std::uint64_t offset, const void* data, std::uint64_t count) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        if (!fitsOffset(offset, count)) {
            return EFBIG;
        }
        const std::uint64_t chunk = count < maxChunk ? count : maxChunk;
        const ssize_t written =
            pwrite(fd, bytes, static_cast<std::size_t>(chunk), static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        // A full disk shows as a short write first and ENOSPC on the next call.
        if (written == 0) {
            return ENOSPC;
        }
        bytes += written;
        offset += static_cast<std::uint64_t>(written);
        count -= static_cast<std::uint64_t>(written);
    }
    return 0;
}

}  // namespace FileCopy
