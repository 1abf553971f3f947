#include "PackageReader.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "FileCopy.h"
#include "InputFileImpl.h"
#include "OutputFileImpl.h"
#include "Paths.h"
#include "ReaderProcess.h"
#include "SystemError.h"
#include "ToolError.h"

namespace PackageReader {

namespace {

// A file on disk that has no name, so that nothing is left on any way out,
// a crash of the tool included. Closed with the object.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& label) {
        const char* variable = getenv("TMPDIR");
        folder = variable && *variable ? variable : "/tmp";
        fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
            fd = openNamedThenRemoved();
        }
        if (fd < 0) {
            throw ToolError("cannot copy " + label + " to the temporary folder '" + folder +
                            "': " + SystemError::describe(errno));
        }
    }
    ~ScratchFile() { close(fd); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    int get() const { return fd; }
    const std::string& where() const { return folder; }

private:
    // Where the file system has no unnamed files: the name goes at once,
    // before a byte is written.
    int openNamedThenRemoved() const {
        struct timespec now = {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        unsigned long number =
            static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(getpid()) << 20);
        for (int attempt = 0; attempt < 100; ++attempt, number += 7919) {
            const std::string name =
                Paths::join(folder, "brumlet-" + std::to_string(number % 100000000) + ".msi");
            const int opened = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (opened >= 0) {
                unlink(name.c_str());
                return opened;
            }
            if (errno != EEXIST) {
                return -1;
            }
        }
        return -1;
    }

    std::string folder;
    int fd = -1;
};

}  // namespace

namespace {

// What the library read, or refused, is what the checks read: a file that
// changed meanwhile is reported as such.
PackageFacts readUnchanged(int fd, const InputFile& file, const std::string& label) {
    try {
        PackageFacts facts = ReaderProcess::read(fd, label);
        InputFileAccess::requireUnchanged(file);
        return facts;
    } catch (const ToolError&) {
        InputFileAccess::requireUnchanged(file);
        throw;
    }
}

}  // namespace

PackageFacts read(const InputFile& package, const std::string& label) {
    return readUnchanged(InputFileAccess::descriptor(package), package, label);
}

PackageFacts read(const InputFile& file, std::uint64_t offset, std::uint64_t size,
                  const std::string& label) {
    if (offset > file.size() || size > file.size() - offset) {
        SystemError::fail("internal error: " + label + " lies past the end of its file");
    }
    const ScratchFile scratch(label);
    // The kernel copies, or shares the blocks where the file system can;
    // whatever it cannot copy is written from the mapping.
    bool unsupported = false;
    int error = 0;
    const std::uint64_t copied = FileCopy::byKernel(InputFileAccess::descriptor(file), offset,
                                                    scratch.get(), 0, size, unsupported, error);
    if (error == 0) {
        error =
            FileCopy::writeAll(scratch.get(), copied, file.data() + offset + copied, size - copied);
    }
    if (error == EFAULT) {
        InputFileAccess::requireUnchanged(file);  // cut short under its mapping
    }
    if (error != 0) {
        throw ToolError("cannot copy " + label + " to the temporary folder '" + scratch.where() +
                        "': " + SystemError::describe(error));
    }
    return readUnchanged(scratch.get(), file, label);
}

PackageFacts read(const OutputFile& output, const std::string& label) {
    return ReaderProcess::read(OutputFileAccess::descriptor(output), label);
}

}  // namespace PackageReader
