// The reader process: brumlet.exe started by itself to run msi.dll over one
// package, on a thread with a stack of its own, in the job its starter made.

#include "ReaderMode.h"

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "FactsWire.h"
#include "Log.h"
#include "MsiReader.h"
#include "ReaderProcess.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinTool.h"
#include "app.h"

namespace ReaderMode {

namespace {

HANDLE handleOf(const char* text) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text, &end, 10);
    return end != text && *end == '\0' ? reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(n))
                                       : nullptr;
}

// A crash ends the reader at once with the exception's code as its status:
// no error report, no debugger, no dialog waiting for a click.
LONG WINAPI endOnCrash(EXCEPTION_POINTERS* info) {
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

const char tooLong[] =
    "cannot be read: its path is longer than 259 characters, which the installer library cannot "
    "open: move it";

// msi.dll opens packages by name only: the name of the very file inherited,
// as the system gives it for the handle, checked to lead to that file.
std::string pathOf(HANDLE file) {
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n = 0;
    for (;;) {
        n = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        // Wine gives no name a few characters past MAX_PATH, only "more data".
        if (n == 0 && GetLastError() == ERROR_MORE_DATA) {
            throw ToolError(tooLong);
        }
        if (n == 0) {
            throw ToolError("cannot be read: " + WinTool::describe(GetLastError()));
        }
        if (n < buffer.size()) {
            break;
        }
        buffer.resize(n + 1);
    }
    tstring path(buffer.data(), n);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        path = L"\\\\" + path.substr(8);
    } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
        path = path.substr(4);
    }
    // Given a longer one, Wine's msi.dll overruns its stack.
    if (path.size() >= MAX_PATH) {
        throw ToolError(tooLong);
    }
    // Read access shared as the tool's own handle shares it: opening fails
    // rather than meet a file that another process writes.
    const UniqueHandle byName(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION held;
    BY_HANDLE_FILE_INFORMATION named;
    if (!byName || !GetFileInformationByHandle(file, &held) ||
        !GetFileInformationByHandle(byName.get(), &named) ||
        held.dwVolumeSerialNumber != named.dwVolumeSerialNumber ||
        held.nFileIndexHigh != named.nFileIndexHigh || held.nFileIndexLow != named.nFileIndexLow) {
        throw ToolError("cannot be read: its name leads to another file");
    }
    return WinTool::utf8(path);
}

#ifdef BRUMLET_READER_HOOK
// The tests' build only: a reader that fails as a damaged package can make
// msi.dll fail, or that tries to write what it was handed.
void testHook(HANDLE package) {
    const char* hook = std::getenv("BRUMLET_READER_HOOK");
    const std::string what = hook ? hook : "";
    if (what == "crash") {
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    } else if (what == "abort") {
        std::abort();
    } else if (what == "hang") {
        Sleep(INFINITE);
    } else if (what == "spin") {
        for (volatile unsigned long n = 0;; n = n + 1) {
        }
    } else if (what == "memory") {
        // Memory used, not only reserved: the job counts what is committed,
        // Wine only what is touched.
        static std::vector<char*> held;
        for (;;) {
            held.push_back(new char[16u << 20]);
            std::memset(held.back(), 1, 16u << 20);
        }
    } else if (what == "write") {
        // Each must fail or go nowhere; the reading goes on as usual.
        static const char text[] = "written by the reader\r\n";
        const HANDLE targets[] = {package, GetStdHandle(STD_OUTPUT_HANDLE),
                                  GetStdHandle(STD_ERROR_HANDLE)};
        for (const HANDLE target : targets) {
            DWORD wrote = 0;
            OVERLAPPED at = {};
            static_cast<void>(WriteFile(target, text, sizeof(text) - 1, &wrote,
                                        target == package ? &at : nullptr));
        }
    }
}
#endif

struct Work {
    HANDLE package;
    std::vector<std::uint8_t> answer;
    int status = 0;
};

DWORD WINAPI readPackage(void* param) {
    Work& work = *static_cast<Work*>(param);
    try {
#ifdef BRUMLET_READER_HOOK
        testHook(work.package);
#endif
        work.answer = FactsWire::encode(MsiReader::read(pathOf(work.package)));
    } catch (const std::bad_alloc&) {
        work.status = outOfMemory;
    } catch (const ToolError& e) {
        work.answer = FactsWire::encodeRefusal(e.what());
    } catch (const std::exception& e) {
        work.answer =
            FactsWire::encodeRefusal(std::string("cannot be read: ") + WinTool::bareMessage(e));
    }
    return 0;
}

std::uint64_t ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The job limits the reader's memory and processor time on Windows; under
// Wine it limits neither, so the reader keeps to its limits itself. Memory as
// the system counts it: committed (Windows), touched (Wine, which reports no
// PrivateUsage). A reader that cannot watch itself does not read.
//
// It also ends itself when blocked: after backstopSeconds of seconds in
// which it used less than a twentieth of the processor. The tool cannot see
// that under Wine, which reports no other process's processor time; its own
// backstop, on the clock there, waits longer.
DWORD WINAPI watch(void*) {
    const std::uint64_t timeAllowed = static_cast<std::uint64_t>(secondsAllowed) * 10000000;
    const std::uint64_t stepMs = 1000;
    const DWORD pollMs = 5;
    std::uint64_t usedAtStep = 0;
    std::uint64_t sinceStepMs = 0;
    ULONGLONG lastPoll = GetTickCount64();
    int blockedSteps = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof(memory);
        FILETIME created;
        FILETIME exited;
        FILETIME kernel;
        FILETIME user;
        if (!GetProcessMemoryInfo(GetCurrentProcess(),
                                  reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                  sizeof(memory)) ||
            !GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
            TerminateProcess(GetCurrentProcess(), static_cast<UINT>(cannotAnswer));
        }
        if (std::max(memory.PrivateUsage, memory.PagefileUsage) > ReaderProcess::memoryLimit) {
            TerminateProcess(GetCurrentProcess(), static_cast<UINT>(outOfMemory));
        }
        const std::uint64_t used = ticks(kernel) + ticks(user);
        if (used >= timeAllowed) {
            TerminateProcess(GetCurrentProcess(), static_cast<UINT>(outOfTime));
        }
        // The time between two polls counts for at most a few of them: a
        // reader stopped with the tool loses no step.
        const ULONGLONG now = GetTickCount64();
        sinceStepMs += std::min<ULONGLONG>(now - lastPoll, 10 * pollMs);
        lastPoll = now;
        if (sinceStepMs >= stepMs) {
            if ((used - usedAtStep) * 20 < sinceStepMs * 10000 &&
                ++blockedSteps >= backstopSeconds) {
                TerminateProcess(GetCurrentProcess(), static_cast<UINT>(blocked));
            }
            usedAtStep = used;
            sinceStepMs = 0;
        }
        Sleep(pollMs);
    }
}

}  // namespace

bool requested(int argc, char** argv) {
    return argc >= 2 && std::strcmp(argv[1], argument) == 0;
}

int run(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endOnCrash);
    // The library's log goes to standard output, which is the tool's.
    static NopLogAppender quiet;
    static StreamLogAppender trace(std::cerr);
    Logger::instance().installAppender(app::isLoggingEnabled() ? static_cast<LogAppender*>(&trace)
                                                               : &quiet);
    Work work;
    work.package = argc == 4 ? handleOf(argv[2]) : nullptr;
    const HANDLE answer = argc == 4 ? handleOf(argv[3]) : nullptr;
    // Started by hand, with handles that are not what the tool passes, it
    // touches nothing.
    if (!work.package || !answer || GetFileType(work.package) != FILE_TYPE_DISK ||
        GetFileType(answer) != FILE_TYPE_PIPE) {
        return notStartedByTool;
    }
    const UniqueHandle watchdog(CreateThread(nullptr, 64 << 10, watch, nullptr,
                                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!watchdog) {
        return cannotAnswer;
    }
    const UniqueHandle reader(CreateThread(nullptr, ReaderProcess::stackSize, readPackage, &work,
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!reader || WaitForSingleObject(reader.get(), INFINITE) != WAIT_OBJECT_0) {
        return cannotAnswer;
    }
    if (work.status != 0) {
        return work.status;
    }
    std::size_t done = 0;
    while (done < work.answer.size()) {
        DWORD wrote = 0;
        const std::size_t piece = std::min<std::size_t>(work.answer.size() - done, 1 << 20);
        if (!WriteFile(answer, work.answer.data() + done, static_cast<DWORD>(piece), &wrote,
                       nullptr) ||
            wrote == 0) {
            return cannotAnswer;
        }
        done += wrote;
    }
    return 0;
}

}  // namespace ReaderMode
