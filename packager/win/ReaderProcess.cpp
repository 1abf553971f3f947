#include "ReaderProcess.h"

#include <atomic>
#include <vector>

#include "FactsWire.h"
#include "ReaderMode.h"
#include "ReaderOutcome.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinTool.h"

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
UniqueHandle inheritable(HANDLE h, const std::string& label) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        cannotStart(label, GetLastError());
    }
    return UniqueHandle(copy);
}

// Ends the job when the time is up, wherever the tool is waiting then.
struct Deadline {
    HANDLE job;
    std::atomic<bool> passed{false};
    HANDLE timer = nullptr;

    static void CALLBACK fire(PVOID self, BOOLEAN) {
        auto* d = static_cast<Deadline*>(self);
        d->passed = true;
        TerminateJobObject(d->job, 1);
    }
    Deadline(HANDLE job, const std::string& label) : job(job) {
        if (!CreateTimerQueueTimer(&timer, nullptr, fire, this,
                                   static_cast<DWORD>(ReaderMode::secondsAllowed) * 1000, 0,
                                   WT_EXECUTEONLYONCE)) {
            cannotStart(label, GetLastError());
        }
    }
    ~Deadline() {
        // Waits for a running callback: it uses this object.
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
};

std::string hex(DWORD code) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        text += digits[(code >> shift) & 0xF];
    }
    return text;
}

std::string whatHappened(DWORD code) {
    if (code == static_cast<DWORD>(ReaderMode::outOfMemory)) {
        return "it ran out of memory";
    }
    if (code == 0xC00000FD) {
        return "it ran out of stack";
    }
    if (code >= 0xC0000000) {
        return "it crashed with exception " + hex(code);
    }
    return "it ended with status " + std::to_string(code);
}

}  // namespace

PackageFacts read(HANDLE file, const std::string& label) {
    // Ended with the tool: the job's last handle is the tool's.
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        cannotStart(label, GetLastError());
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.ProcessMemoryLimit = memoryLimit;
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
    const UniqueHandle package = inheritable(file, label);

    tstring commandLine = L"\"" + ownProgram(label) + L"\" " + WinTool::wide(ReaderMode::argument) +
                          L" " + std::to_wstring(reinterpret_cast<std::uintptr_t>(package.get())) +
                          L" " + std::to_wstring(reinterpret_cast<std::uintptr_t>(to.get()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    // Suspended until it is in the job: no byte is read outside its limits.
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &started)) {
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
    Deadline deadline(job.get(), label);
    ResumeThread(thread.get());
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
    // A reader that closed the pipe and went on is ended by the deadline.
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
    if (deadline.passed) {
        throw ReaderOutcome::damaged(
            label, "it ran past " + std::to_string(ReaderMode::secondsAllowed) + " seconds");
    }
    throw ReaderOutcome::damaged(label, whatHappened(code));
}

}  // namespace ReaderProcess
