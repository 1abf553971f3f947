#include "ReaderProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "Descriptor.h"
#include "FactsWire.h"
#include "ReaderMode.h"
#include "ReaderOutcome.h"
#include "SystemError.h"
#include "ToolError.h"

extern char** environ;

namespace ReaderProcess {

// libmsi reads the tables and the streams asked for, never the whole
// package. Measured (address space at its peak): 46 MiB for a small package,
// 40 of them the libraries' code; 49 MiB for one of 210 MiB; 56 MiB for one
// with 20,000 files, about half a kilobyte more per file. 512 MiB is room for
// about a million files and still far from what a runner of 2 GiB can spare.
const rlim_t memoryLimit = rlim_t(512) << 20;
// The stack libmsi and libgsf are measured to survive with (the usual 8 MiB);
// fixed, so that an unlimited stack in the caller's shell changes nothing.
const rlim_t stackLimit = rlim_t(8) << 20;

namespace {

std::string& program() {
    static std::string path = "/proc/self/exe";
    return path;
}

[[noreturn]] void cannotStart(const std::string& label, int error) {
    throw ToolError("cannot start the installer library to read " + label + ": " +
                    SystemError::describe(error));
}

// The started reader, ended and reaped on every way out of read().
class Child {
public:
    explicit Child(pid_t pid) : pid(pid) {}
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Its status once it has ended, or false when it has not.
    bool ended(int& status) {
        pid_t got;
        while ((got = waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (got == pid || got < 0) {
            pid = -1;
            return true;
        }
        return false;
    }
    void stop(int& status) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }

private:
    pid_t pid;
};

long long nowMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

pid_t start(int package, int answer, const std::string& label) {
    // The reader finds both at fixed numbers; copies above them first, so
    // that placing one cannot close the other.
    const Descriptor high[2] = {Descriptor(fcntl(package, F_DUPFD_CLOEXEC, 10)),
                                Descriptor(fcntl(answer, F_DUPFD_CLOEXEC, 10))};
    if (high[0].get() < 0 || high[1].get() < 0) {
        cannotStart(label, errno);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        cannotStart(label, ENOMEM);
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        cannotStart(label, ENOMEM);
    }
    // Standard output is the tool's own; standard error too, unless tracing
    // asks for the library's messages.
    const char* debug = std::getenv("BRUMLET_DEBUG");
    const bool trace = debug && strcmp(debug, "true") == 0;
    sigset_t none;
    sigemptyset(&none);
    int error = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    error = error ? error : posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!trace) {
        error =
            error ? error : posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    error = error ? error : posix_spawn_file_actions_adddup2(&actions, high[0].get(), 3);
    error = error ? error : posix_spawn_file_actions_adddup2(&actions, high[1].get(), 4);
    // Nothing else the tool holds open (the output being written) reaches it.
    error = error ? error : posix_spawn_file_actions_addclosefrom_np(&actions, 5);
    error = error ? error : posix_spawnattr_setsigmask(&attributes, &none);
    error = error ? error : posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    if (!error) {
        std::string path = program();
        std::string mode = ReaderMode::argument;
        std::string packageArg = "3";
        std::string answerArg = "4";
        char* argv[] = {&path[0], &mode[0], &packageArg[0], &answerArg[0], nullptr};
        error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error) {
        cannotStart(label, error);
    }
    return pid;
}

std::string whatHappened(int status, bool timedOut) {
    if (timedOut) {
        return "it ran past " + std::to_string(ReaderMode::secondsAllowed) + " seconds";
    }
    if (WIFSIGNALED(status)) {
        // Its own alarm, should the tool have missed the deadline.
        if (WTERMSIG(status) == SIGALRM) {
            return "it ran past " + std::to_string(ReaderMode::secondsAllowed) + " seconds";
        }
        return "it crashed with signal " + std::to_string(WTERMSIG(status));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == ReaderMode::outOfMemory) {
        return "it ran out of memory";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        return "it ended with status " + std::to_string(WEXITSTATUS(status));
    }
    return "it ended without an answer";
}

}  // namespace

void useProgram(const std::string& path) {
    program() = path;
}

PackageFacts read(int fd, const std::string& label) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        cannotStart(label, errno);
    }
    Descriptor from(ends[0]);
    Descriptor to(ends[1]);
    const long long deadline = nowMs() + ReaderMode::secondsAllowed * 1000LL;
    Child child(start(fd, to.get(), label));
    // The pipe ends when the reader ends: only its copy may be left.
    to.reset();

    std::vector<std::uint8_t> answer;
    bool timedOut = false;
    bool tooLong = false;
    for (;;) {
        const long long left = deadline - nowMs();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        struct pollfd wait = {from.get(), POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            SystemError::fail("cannot wait for the installer library reading " + label + ": " +
                              SystemError::describe(errno));
        }
        if (ready <= 0) {
            continue;
        }
        std::uint8_t buffer[65536];
        const ssize_t got = ::read(from.get(), buffer, sizeof(buffer));
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        if (answer.size() + static_cast<std::size_t>(got) > FactsWire::maxAnswerBytes) {
            tooLong = true;
            break;
        }
        answer.insert(answer.end(), buffer, buffer + got);
    }
    // The pipe has closed: the reader is ending, unless it closed the pipe
    // and went on; it gets what is left of its time.
    int status = 0;
    if (!timedOut && !tooLong) {
        while (!child.ended(status)) {
            if (nowMs() >= deadline) {
                timedOut = true;
                break;
            }
            struct timespec pause = {0, 100000};
            nanosleep(&pause, nullptr);
        }
    }
    if (timedOut || tooLong) {
        child.stop(status);
    }
    if (tooLong) {
        throw ReaderOutcome::damaged(label, "it answered more than it can hold");
    }
    if (!timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return ReaderOutcome::take(answer, label);
    }
    throw ReaderOutcome::damaged(label, whatHappened(status, timedOut));
}

}  // namespace ReaderProcess
