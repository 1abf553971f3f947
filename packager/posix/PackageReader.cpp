#include "PackageReader.h"

#include <errno.h>
#include <sys/mman.h>
#include <unistd.h>

#include "InputFileImpl.h"
#include "ReaderProcess.h"
#include "SystemError.h"
#include "ToolError.h"

namespace PackageReader {

PackageFacts read(const InputFile& package, const std::string& label) {
    return ReaderProcess::read(InputFileAccess::descriptor(package), label);
}

PackageFacts read(const InputFile& file, std::uint64_t offset, std::uint64_t size,
                  const std::string& label) {
    // For now an anonymous file in memory; it goes to disk next.
    const int fd = memfd_create("brumlet-package", MFD_CLOEXEC);
    if (fd < 0) {
        throw ToolError("cannot copy " + label + " to memory: " + SystemError::describe(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    const std::uint8_t* data = file.data() + offset;
    std::uint64_t done = 0;
    while (done < size) {
        const std::uint64_t left = size - done;
        const ssize_t written =
            write(fd, data + done, static_cast<std::size_t>(left < (1u << 30) ? left : (1u << 30)));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw ToolError("cannot copy " + label +
                            " to memory: " + SystemError::describe(written < 0 ? errno : ENOSPC));
        }
        done += static_cast<std::uint64_t>(written);
    }
    return ReaderProcess::read(fd, label);
}

}  // namespace PackageReader
