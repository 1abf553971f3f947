// The reader: a program of its own, started by the tool to run libmsi over
// one package, under limits it sets on itself before the library sees a
// byte. Only it loads libmsi and GLib; the tool starts without them.

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <linux/landlock.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "FactsWire.h"
#include "LibmsiReader.h"
#include "ReaderMode.h"
#include "ReaderProcess.h"
#include "ToolError.h"

using ReaderMode::outOfMemory;
using ReaderMode::secondsAllowed;

namespace {

// A descriptor number as the starting tool wrote it, or -1.
int descriptor(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && n >= 0 && n < 1024 ? static_cast<int>(n)
                                                                           : -1;
}

bool isKind(int fd, mode_t kind) {
    struct stat info;
    return fd >= 0 && fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

void limit(int resource, rlim_t most) {
    struct rlimit now;
    if (getrlimit(resource, &now) == 0 && (now.rlim_max == RLIM_INFINITY || now.rlim_max > most)) {
        now.rlim_max = most;
    }
    now.rlim_cur = now.rlim_max;
    setrlimit(resource, &now);
}

// The reader writes nothing but its answer, on the pipe it was given. Where
// the kernel has Landlock it gives up writing, making or removing any file:
// also the package, which it could otherwise open again for writing through
// /proc/self/fd. Without Landlock, its descriptors are what stays read-only.
void writeNothing() {
#ifdef SYS_landlock_create_ruleset
    const long abi =
        syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) {
        return;
    }
    struct landlock_ruleset_attr rules = {};
    rules.handled_access_fs = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                              LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                              LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                              LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                              LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    // Linking a file elsewhere (version 2) and cutting it short (3), named
    // by number: older headers lack them.
    if (abi >= 2) {
        rules.handled_access_fs |= 1ULL << 13;
    }
    if (abi >= 3) {
        rules.handled_access_fs |= 1ULL << 14;
    }
    const long ruleset = syscall(SYS_landlock_create_ruleset, &rules, sizeof(rules), 0);
    if (ruleset < 0) {
        return;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0) {
        syscall(SYS_landlock_restrict_self, ruleset, 0);
    }
    close(static_cast<int>(ruleset));
#endif
}

void limitSelf() {
    limit(RLIMIT_AS, ReaderProcess::memoryLimit);
    limit(RLIMIT_STACK, ReaderProcess::stackLimit);
    // A crash leaves nothing on disk: no core file, nor one handed to a
    // collector that ignores the size limit.
    limit(RLIMIT_CORE, 0);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // Processor time, not time on the clock: a reader stopped with the tool
    // (Ctrl-Z) loses none. SIGXCPU ends it at the limit, SIGKILL a second
    // later should it survive that.
    struct rlimit cpu;
    if (getrlimit(RLIMIT_CPU, &cpu) == 0) {
        const rlim_t hard = static_cast<rlim_t>(secondsAllowed) + 1;
        if (cpu.rlim_max == RLIM_INFINITY || cpu.rlim_max > hard) {
            cpu.rlim_max = hard;
        }
        cpu.rlim_cur = std::min(cpu.rlim_max, static_cast<rlim_t>(secondsAllowed));
        setrlimit(RLIMIT_CPU, &cpu);
    }
    // The tool ends a reader that stops answering; should the tool itself be
    // gone, the reader ends on its own.
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
}

// The library reports oddities of a package through GLib's log, which is
// silent unless tracing is on. GLib ends the process when an allocation
// fails: under the limit that is the memory running out, said so by status.
void handleLibraryMessages() {
    static const bool trace = [] {
        const char* debug = std::getenv("BRUMLET_DEBUG");
        return debug && std::strcmp(debug, "true") == 0;
    }();
    g_log_set_default_handler(
        [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
            if (trace) {
                g_log_default_handler(domain, level, message, nullptr);
            }
            if ((level & G_LOG_LEVEL_ERROR) && message &&
                std::strstr(message, "failed to allocate")) {
                _exit(outOfMemory);
            }
        },
        nullptr);
}

#ifdef BRUMLET_READER_HOOK
// The tests' build only: a reader that fails as a damaged package can make
// libmsi fail, that is slow, that tries to write its package, or that
// floods the pipe it answers on.
void testHook(int answer) {
    const char* hook = std::getenv("BRUMLET_READER_HOOK");
    const std::string what = hook ? hook : "";
    if (what == "crash") {
        raise(SIGSEGV);
    } else if (what == "hang") {
        for (;;) {
            pause();
        }
    } else if (what == "spin") {
        for (volatile unsigned long n = 0;; n = n + 1) {
        }
    } else if (what == "slow") {
        sleep(1);
    } else if (what == "write" || what == "reopen") {
        // A reader gone astray: neither the package's descriptor nor the
        // package opened again may take it.
        const int fd = what == "write" ? 3 : open("/proc/self/fd/3", O_WRONLY | O_CLOEXEC);
        const ssize_t written = pwrite(fd, "written by the reader", 21, 0);
        static_cast<void>(written);
    } else if (what == "flood") {
        static const char block[1 << 16] = {};
        while (write(answer, block, sizeof(block)) > 0) {
        }
        _exit(0);
    } else if (what == "memory") {
        static std::vector<char*> held;
        for (;;) {
            held.push_back(new char[16u << 20]);
        }
    }
}
#endif

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// Started as the tool starts it: the reader's argument, then the package's
// descriptor and the answer's.
int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], ReaderMode::argument) != 0) {
        return 2;
    }
    const int package = descriptor(argv[2]);
    const int answer = descriptor(argv[3]);
    // Started by hand, with descriptors that are not what the tool passes,
    // it touches nothing.
    if (!isKind(package, S_IFREG) || !isKind(answer, S_IFIFO)) {
        return 2;
    }
    limitSelf();
    writeNothing();
    handleLibraryMessages();
    std::vector<std::uint8_t> bytes;
    try {
#ifdef BRUMLET_READER_HOOK
        testHook(answer);
#endif
        bytes = FactsWire::encode(LibmsiReader::read("/proc/self/fd/" + std::to_string(package)));
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    } catch (const ToolError& e) {
        bytes = FactsWire::encodeRefusal(e.what());
    } catch (const std::exception& e) {
        bytes = FactsWire::encodeRefusal(std::string("cannot be read: ") + e.what());
    }
    return writeAll(answer, bytes) ? 0 : 1;
}
