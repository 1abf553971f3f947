#include "ReaderProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

#ifdef BRUMLET_READER_HOOK
const char* const readerName = "brumlet-reader-hook";
#else
const char* const readerName = "brumlet-reader";
#endif

std::string& chosenProgram() {
    static std::string path;
    return path;
}

std::string foundProgram() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) {
        return readerName;
    }
    std::string folder(self, static_cast<std::size_t>(length));
    folder.erase(folder.rfind('/') + 1);
    const std::string beside = folder + readerName;
    const std::string installed = folder + "../libexec/brumlet/" + readerName;
    return access(beside.c_str(), X_OK) != 0 && access(installed.c_str(), X_OK) == 0 ? installed
                                                                                     : beside;
}

[[noreturn]] void cannotStart(const std::string& label, int error) {
    throw ToolError("cannot start the installer library to read " + label + ": " +
                    SystemError::describe(error));
}

// A tool started with SIGCHLD ignored (a parent's choice that survives exec)
// has its children reaped by the system: how the reader ended would be lost.
void keepChildrenStatus() {
    struct sigaction now;
    if (sigaction(SIGCHLD, nullptr, &now) == 0 &&
        (now.sa_handler == SIG_IGN || (now.sa_flags & SA_NOCLDWAIT))) {
        struct sigaction plain = {};
        plain.sa_handler = SIG_DFL;
        sigemptyset(&plain.sa_mask);
        sigaction(SIGCHLD, &plain, nullptr);
    }
}

// The started reader, ended and reaped on every way out of read().
class Child {
public:
    enum State { running, ended, unknown };

    explicit Child(pid_t pid) : pid(pid) {}
    ~Child() {
        if (pid > 0) {
            int status = 0;
            stop(status);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Whether it has ended, with its status and the processor time it used;
    // unknown when the system no longer knows it as a child.
    State poll(int& status, struct rusage& usage) {
        pid_t got;
        while ((got = wait4(pid, &status, WNOHANG, &usage)) < 0 && errno == EINTR) {
        }
        if (got == 0) {
            return running;
        }
        pid = -1;
        return got < 0 ? unknown : ended;
    }
    void stop(int& status) {
        if (pid <= 0) {
            return;
        }
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

// The processor time a process has used, in clock ticks, or -1.
long long ticksUsed(pid_t pid) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/stat", static_cast<int>(pid));
    const Descriptor file(open(path, O_RDONLY | O_CLOEXEC));
    char text[1024];
    const ssize_t got = file.get() < 0 ? -1 : ::read(file.get(), text, sizeof(text) - 1);
    if (got <= 0) {
        return -1;
    }
    text[got] = '\0';
    // Past the name, which may hold anything: the state, then user time as
    // the 12th field and system time as the 13th.
    const char* at = strrchr(text, ')');
    long long user = 0;
    long long system = 0;
    return at && sscanf(at + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &user,
                        &system) == 2
               ? user + system
               : -1;
}

// The time the tool has waited for a reader that is blocked, in steps of at
// most a second. A step in which the reader used the processor (a twentieth
// of it or more) is not counted: that reader is working, and its processor
// time limit ends it should it work too long, however starved the machine.
// A step that took far longer than asked is the tool stopped (Ctrl-Z) and
// counts as one second.
class Backstop {
public:
    static constexpr int stepMs = 1000;

    explicit Backstop(pid_t reader) : reader(reader), ticks(ticksUsed(reader)) {}

    bool over() const { return waitedMs >= ReaderMode::backstopSeconds * 1000LL; }
    int nextWaitMs() const {
        const long long left = ReaderMode::backstopSeconds * 1000LL - waitedMs;
        return static_cast<int>(left < stepMs ? left : stepMs);
    }
    void count() {
        const long long now = nowMs();
        const long long step = std::min(now - last, static_cast<long long>(stepMs));
        const long long used = ticksUsed(reader);
        const long long usedMs = used < 0 || ticks < 0 ? 0 : (used - ticks) * 1000 / tickRate;
        if (usedMs * 20 < step) {
            waitedMs += step;
        }
        last = now;
        ticks = used;
    }

private:
    const pid_t reader;
    const long long tickRate = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
    long long ticks;
    long long waitedMs = 0;
    long long last = nowMs();
};

pid_t start(int package, int answer, const std::string& label) {
    // The reader may read the package, never write it: a descriptor open
    // for writing too (an output not yet in place) is opened again for
    // reading only.
    const int mode = fcntl(package, F_GETFL);
    if (mode < 0) {
        cannotStart(label, errno);
    }
    Descriptor readOnly;
    if ((mode & O_ACCMODE) != O_RDONLY) {
        readOnly.reset(
            open(("/proc/self/fd/" + std::to_string(package)).c_str(), O_RDONLY | O_CLOEXEC));
        if (readOnly.get() < 0) {
            cannotStart(label, errno);
        }
        package = readOnly.get();
    }
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
    // Standard input and output lead nowhere; standard error too, unless
    // tracing asks for the library's messages.
    const char* debug = std::getenv("BRUMLET_DEBUG");
    const bool trace = debug && strcmp(debug, "true") == 0;
    sigset_t none;
    sigemptyset(&none);
    // Every signal as the system has it, whatever the tool's parent ignored:
    // a crash or its processor time running out ends the reader for sure.
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
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
    error = error ? error : posix_spawnattr_setsigdefault(&attributes, &all);
    error = error ? error
                  : posix_spawnattr_setflags(&attributes,
                                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (!error) {
        std::string path = ReaderProcess::program();
        std::string modeArg = ReaderMode::argument;
        std::string packageArg = "3";
        std::string answerArg = "4";
        char* argv[] = {&path[0], &modeArg[0], &packageArg[0], &answerArg[0], nullptr};
        error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error) {
        cannotStart(label, error);
    }
    return pid;
}

std::string whatHappened(int status, const struct rusage& usage) {
    if (WIFSIGNALED(status)) {
        // Its processor time ran out: SIGXCPU at the limit, SIGKILL at the
        // hard limit a second later should the first not end it.
        const long long used =
            static_cast<long long>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec;
        if (WTERMSIG(status) == SIGXCPU ||
            (WTERMSIG(status) == SIGKILL && used >= ReaderMode::secondsAllowed)) {
            return ReaderOutcome::ranPast(ReaderMode::secondsAllowed);
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

const std::string& program() {
    if (chosenProgram().empty()) {
        chosenProgram() = foundProgram();
    }
    return chosenProgram();
}

void useProgram(const std::string& path) {
    chosenProgram() = path;
}

PackageFacts read(int fd, const std::string& label) {
    keepChildrenStatus();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        cannotStart(label, errno);
    }
    Descriptor from(ends[0]);
    Descriptor to(ends[1]);
    const pid_t pid = start(fd, to.get(), label);
    Child child(pid);
    Backstop backstop(pid);
    // The pipe ends when the reader ends: only its copy may be left.
    to.reset();

    std::vector<std::uint8_t> answer;
    bool tooLong = false;
    while (!backstop.over()) {
        struct pollfd wait = {from.get(), POLLIN, 0};
        const int ready = poll(&wait, 1, backstop.nextWaitMs());
        if (ready < 0 && errno != EINTR) {
            SystemError::fail("cannot wait for the installer library reading " + label + ": " +
                              SystemError::describe(errno));
        }
        backstop.count();
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
        // Grown by doubling, but never past the cap: what the tool holds
        // for an answer is the cap at most.
        if (answer.capacity() < answer.size() + static_cast<std::size_t>(got)) {
            answer.reserve(std::min(FactsWire::maxAnswerBytes,
                                    std::max(answer.size() + got, 2 * answer.size())));
        }
        answer.insert(answer.end(), buffer, buffer + got);
    }
    if (tooLong) {
        throw ReaderOutcome::damaged(label, "it answered more than it can hold");
    }
    // The pipe has closed: the reader is ending, unless it closed the pipe
    // and went on; it gets what is left of the tool's patience.
    int status = 0;
    struct rusage usage = {};
    Child::State state = Child::running;
    while (!backstop.over() && (state = child.poll(status, usage)) == Child::running) {
        struct timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
        backstop.count();
    }
    if (state == Child::running) {
        child.stop(status);
        throw ReaderOutcome::damaged(label,
                                     ReaderOutcome::gaveNoAnswer(ReaderMode::backstopSeconds));
    }
    if (state == Child::unknown) {
        throw ReaderOutcome::damaged(label, ReaderOutcome::endUnknown());
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return ReaderOutcome::take(answer, label);
    }
    throw ReaderOutcome::damaged(label, whatHappened(status, usage));
}

}  // namespace ReaderProcess
