#include "ReaderProcess.h"

#include <atomic>
#include <vector>

#include "FactsWire.h"
#include "ReaderMode.h"
#include "ReaderOutcome.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinTool.h"
#include "app.h"

namespace ReaderProcess {

// As for libmsi: a small package needs a few tens of megabytes; 512 MiB is
// room for about a million files.
const std::size_t memoryLimit = std::size_t(512) << 20;
// msi.dll walks a package's storage recursively; a thread of its own gets
// the stack the native reader has, not the main thread's default.
const std::size_t stackSize = std::size_t(8) << 20;

namespace {

[[noreturn]] void cannotStart(const std::string& label, DWORD error) {
    throw ToolError("cannot start the installer library to read " + label + ": " +
                    WinTool::describe(error));
}

tstring ownProgram(const std::string& label) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            cannotStart(label, GetLastError());
        }
        if (n < buffer.size()) {
            return tstring(buffer.data(), n);
        }
        if (buffer.size() >= 32768) {
            cannotStart(label, ERROR_FILENAME_EXCED_RANGE);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// An inheritable copy, for the reader only: the original stays private.
// Without `access`, it may do what the original may.
UniqueHandle inheritable(HANDLE h, const std::string& label, DWORD access = 0) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, access, TRUE,
                         access ? 0 : DUPLICATE_SAME_ACCESS)) {
        cannotStart(label, GetLastError());
    }
    return UniqueHandle(copy);
}

// The handles the reader inherits, and no other (Wine ignores the list and
// passes every inheritable handle).
struct HandleList {
    std::vector<HANDLE> handles;
    std::vector<char> buffer;

    HandleList(std::vector<HANDLE> given, const std::string& label) : handles(std::move(given)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer.resize(size);
        if (!InitializeProcThreadAttributeList(attributes(), 1, 0, &size)) {
            cannotStart(label, GetLastError());
        }
        if (!UpdateProcThreadAttribute(attributes(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                       handles.data(), handles.size() * sizeof(HANDLE), nullptr,
                                       nullptr)) {
            const DWORD error = GetLastError();
            DeleteProcThreadAttributeList(attributes());
            cannotStart(label, error);
        }
    }
    ~HandleList() { DeleteProcThreadAttributeList(attributes()); }
    LPPROC_THREAD_ATTRIBUTE_LIST attributes() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data());
    }
    HandleList(const HandleList&) = delete;
    HandleList& operator=(const HandleList&) = delete;
};

// The reader's standard handles lead nowhere: what msi.dll or the runtime
// writes there is not the tool's output. The library's log, when the user
// asked for it, goes to the tool's standard error.
UniqueHandle nowhere(const std::string& label) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
    if (!nul) {
        cannotStart(label, GetLastError());
    }
    return nul;
}

std::uint64_t ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The processor time a process has used, in units of 100 ns, user mode only
// or all of it; 0 when the system does not say.
std::uint64_t processorTime(HANDLE process, bool userOnly) {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return ticks(user) + (userOnly ? 0 : ticks(kernel));
}

const std::uint64_t timeAllowed = static_cast<std::uint64_t>(ReaderMode::secondsAllowed) * 10000000;

// Ends the job once the reader has been blocked for long, wherever the tool
// is waiting then. A second in which the reader used the processor (a
// twentieth of it or more) does not count: that reader is working, and its
// processor time ends it should it work too long, however starved the
// machine. The reader ends itself when blocked for backstopSeconds; this is
// the last resort for one that cannot, and waits longer, as under Wine,
// which reports no other process's processor time, it counts every second.
class Backstop {
public:
    static constexpr int lastResortSeconds = 3 * ReaderMode::backstopSeconds;

    Backstop(HANDLE job, HANDLE reader, const std::string& label) : job(job), reader(reader) {
        if (!CreateTimerQueueTimer(&timer, nullptr, step, this, stepMs, stepMs,
                                   WT_EXECUTEINTIMERTHREAD)) {
            cannotStart(label, GetLastError());
        }
    }
    ~Backstop() {
        // Waits for a running callback: it uses this object.
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    }
    Backstop(const Backstop&) = delete;
    Backstop& operator=(const Backstop&) = delete;

    bool passed() const { return over; }

private:
    static constexpr DWORD stepMs = 1000;

    // One at a time, in the timer's thread.
    static void CALLBACK step(PVOID self, BOOLEAN) {
        auto* b = static_cast<Backstop*>(self);
        const std::uint64_t used = processorTime(b->reader, false);
        if ((used - b->used) * 20 < std::uint64_t(stepMs) * 10000) {
            ++b->blockedSteps;
        }
        b->used = used;
        if (b->blockedSteps >= lastResortSeconds && !b->over) {
            b->over = true;
            TerminateJobObject(b->job, 1);
        }
    }

    const HANDLE job;
    const HANDLE reader;
    HANDLE timer = nullptr;
    std::uint64_t used = 0;
    int blockedSteps = 0;
    std::atomic<bool> over{false};
};

std::string hex(DWORD code) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        text += digits[(code >> shift) & 0xF];
    }
    return text;
}

// Ended by the job for its processor time (Windows), or by itself (Wine).
bool ranPast(HANDLE process, DWORD code) {
    return code == static_cast<DWORD>(ReaderMode::outOfTime) ||
           processorTime(process, true) >= timeAllowed;
}

// The reader ends with 0 or one of its own codes; any other end is a crash.
std::string whatHappened(DWORD code) {
    if (code == static_cast<DWORD>(ReaderMode::outOfMemory)) {
        return "it ran out of memory";
    }
    if (code == static_cast<DWORD>(ReaderMode::cannotAnswer)) {
        return "it could not answer";
    }
    if (code == 0xC00000FD) {
        return "it ran out of stack";
    }
    if (code >= 0xC0000000) {
        return "it crashed with exception " + hex(code);
    }
    return "it crashed with exit code " + std::to_string(code);
}

}  // namespace

PackageFacts read(HANDLE file, const std::string& label) {
    // Ended with the tool: the job's last handle is the tool's.
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        cannotStart(label, GetLastError());
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_PROCESS_MEMORY |
        JOB_OBJECT_LIMIT_PROCESS_TIME | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.ProcessMemoryLimit = memoryLimit;
    limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart =
        static_cast<LONGLONG>(timeAllowed);
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        cannotStart(label, GetLastError());
    }

    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        cannotStart(label, GetLastError());
    }
    UniqueHandle from(readEnd);
    UniqueHandle to(writeEnd);
    if (!SetHandleInformation(from.get(), HANDLE_FLAG_INHERIT, 0)) {
        cannotStart(label, GetLastError());
    }
    // Read only, whatever the tool's own handle may do.
    const UniqueHandle package = inheritable(file, label, GENERIC_READ);
    const UniqueHandle nul = nowhere(label);
    UniqueHandle log;
    std::vector<HANDLE> handed = {package.get(), to.get(), nul.get()};
    const HANDLE toolErrors = GetStdHandle(STD_ERROR_HANDLE);
    if (app::isLoggingEnabled() && toolErrors && toolErrors != INVALID_HANDLE_VALUE) {
        log = inheritable(toolErrors, label);
        handed.push_back(log.get());
    }
    HandleList only(std::move(handed), label);

    tstring commandLine = L"\"" + ownProgram(label) + L"\" " + WinTool::wide(ReaderMode::argument) +
                          L" " + std::to_wstring(reinterpret_cast<std::uintptr_t>(package.get())) +
                          L" " + std::to_wstring(reinterpret_cast<std::uintptr_t>(to.get()));
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nul.get();
    startup.StartupInfo.hStdOutput = nul.get();
    startup.StartupInfo.hStdError = log ? log.get() : nul.get();
    startup.lpAttributeList = only.attributes();
    PROCESS_INFORMATION started = {};
    // Suspended until it is in the job: no byte is read outside its limits.
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        nullptr, &startup.StartupInfo, &started)) {
        cannotStart(label, GetLastError());
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    if (!AssignProcessToJobObject(job.get(), process.get())) {
        const DWORD error = GetLastError();
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), INFINITE);
        cannotStart(label, error);
    }
    Backstop backstop(job.get(), process.get(), label);
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        TerminateJobObject(job.get(), 1);
        WaitForSingleObject(process.get(), INFINITE);
        cannotStart(label, error);
    }
    // The pipe ends when the reader ends: only its copy may be left.
    to.reset();

    std::vector<std::uint8_t> answer;
    bool tooLong = false;
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                      nullptr) ||
            got == 0) {
            break;
        }
        if (answer.size() + got > FactsWire::maxAnswerBytes) {
            tooLong = true;
            TerminateJobObject(job.get(), 1);
            break;
        }
        answer.insert(answer.end(), buffer.data(), buffer.data() + got);
    }
    // A reader that closed the pipe and went on is ended by its limits.
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    if (tooLong) {
        throw ReaderOutcome::damaged(label, "it answered more than it can hold");
    }
    // A reader that ended well as the time ran out still answered.
    if (code == 0) {
        return ReaderOutcome::take(answer, label);
    }
    if (ranPast(process.get(), code)) {
        throw ReaderOutcome::damaged(label, ReaderOutcome::ranPast(ReaderMode::secondsAllowed));
    }
    if (code == static_cast<DWORD>(ReaderMode::blocked)) {
        throw ReaderOutcome::damaged(label,
                                     ReaderOutcome::gaveNoAnswer(ReaderMode::backstopSeconds));
    }
    if (backstop.passed()) {
        throw ReaderOutcome::damaged(label,
                                     ReaderOutcome::gaveNoAnswer(Backstop::lastResortSeconds));
    }
    throw ReaderOutcome::damaged(label, whatHappened(code));
}

}  // namespace ReaderProcess
