#include "ToolPlatform.h"

#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "Paths.h"
#include "SystemError.h"

namespace ToolPlatform {

namespace {

void writeLine(int fd, const std::string& line) {
    // A reader that went away must not end the tool by a signal: the line is
    // lost and the command's own status stands.
    static const bool pipeSignalIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)pipeSignalIgnored;
    const std::string text = line + "\n";
    const char* bytes = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = write(fd, bytes, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
}

std::string programPath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            SystemError::fail("cannot find the program's own path (/proc/self/exe): " +
                              SystemError::describe(errno));
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        if (buffer.size() >= (1u << 20)) {
            SystemError::fail("cannot find the program's own path: it is too long");
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool isFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return args;
}

void printOut(const std::string& line) {
    writeLine(STDOUT_FILENO, line);
}

void printErr(const std::string& line) {
    writeLine(STDERR_FILENO, line);
}

void writeOut(const std::uint8_t* data, std::uint64_t size) {
    // A reader that went away is a failure here, reported, not a signal.
    signal(SIGPIPE, SIG_IGN);
    while (size > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 30));
        const ssize_t written = write(STDOUT_FILENO, data, chunk);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            SystemError::fail("cannot write to standard output: " +
                              SystemError::describe(written < 0 ? errno : EIO));
        }
        data += written;
        size -= static_cast<std::uint64_t>(written);
    }
}

bool outputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

std::string defaultStub() {
    const std::string folder = Paths::folderOf(programPath());
    // Installed: <prefix>/bin/brumlet and <prefix>/share/brumlet/; in a build
    // tree the stub is copied beside the program.
    const std::string installed =
        Paths::absolute(Paths::join(folder, "../share/brumlet/brumlet-wrapper.exe"));
    const std::string beside = Paths::join(folder, "brumlet-wrapper.exe");
    for (const std::string& candidate : {installed, beside}) {
        if (isFile(candidate)) {
            return candidate;
        }
    }
    SystemError::fail("no stub found at '" + installed + "' or '" + beside +
                      "'; give brumlet-wrapper.exe with --stub");
}

std::string absolutePath(const std::string& path) {
    return Paths::absolute(path);
}

bool isSeparator(char c) {
    return c == '/';
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool sameFile(const std::string& a, const std::string& b) {
    // Paths are taken by their text, as everywhere in the tool ("x/.." is the
    // folder itself even where x does not exist); then by identity.
    const std::string absoluteA = Paths::absolute(a);
    if (absoluteA == Paths::absolute(b) && exists(absoluteA)) {
        return true;
    }
    struct stat infoA;
    struct stat infoB;
    if (stat(a.c_str(), &infoA) != 0 || stat(b.c_str(), &infoB) != 0) {
        return false;
    }
    return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

}  // namespace ToolPlatform
