#include "Executor.h"

#include <vector>

#include "Log.h"
#include "WinErrorHandling.h"

namespace {

tstring quoteArg(const tstring& arg) {
    if (arg.empty()) {
        return arg;
    }
    if (arg.size() >= 2 && arg.front() == L'"' && arg.back() == L'"') {
        return arg;
    }
    if (arg.find_first_of(L" \t") == tstring::npos) {
        return arg;
    }
    return L'"' + arg + L'"';
}

}  // namespace

Executor::Executor(const tstring& path)
    : visible(false), inheritHandles(false), suspended(false), jobObject(nullptr) {
    setAppPath(path);
}

Executor& Executor::setAppPath(const tstring& path) {
    appPath = path;
    return *this;
}

Executor& Executor::addArg(const tstring& arg) {
    args.push_back(arg);
    return *this;
}

Executor& Executor::setVisible(bool value) {
    visible = value;
    return *this;
}

Executor& Executor::setSuspended(bool value) {
    suspended = value;
    return *this;
}

Executor& Executor::setInheritHandles(bool value) {
    inheritHandles = value;
    return *this;
}

Executor& Executor::setJobObject(HANDLE job) {
    jobObject = job;
    return *this;
}

Executor& Executor::setOnProcessCreated(const ProcessCallback& callback) {
    onProcessCreated = callback;
    return *this;
}

Executor& Executor::setRawArgs(const tstring& text) {
    rawArgs = text;
    return *this;
}

tstring Executor::commandLine() const {
    tstring result = quoteArg(appPath);
    for (const tstring& arg : args) {
        result += L' ';
        result += quoteArg(arg);
    }
    if (!rawArgs.empty()) {
        result += L' ';
        result += rawArgs;
    }
    return result;
}

UniqueHandle Executor::startProcess(UniqueHandle* threadOut) const {
    const tstring cmdline = commandLine();
    // The system would cut a longer line short without a word, and the child
    // would run with its last argument changed.
    if (cmdline.size() > maxCommandLineLength) {
        BM_THROW_MSG("CreateProcess(" << appPath << ") refused: the command line has "
                                      << static_cast<unsigned long>(cmdline.size())
                                      << " characters, more than the system's limit of "
                                      << static_cast<unsigned long>(maxCommandLineLength));
    }
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::vector<wchar_t> buffer(cmdline.begin(), cmdline.end());
    buffer.push_back(L'\0');

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    DWORD flags = 0;
    if (suspended) {
        flags |= CREATE_SUSPENDED;
    }
    if (!visible) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
        flags |= CREATE_NO_WINDOW;
    }

    tstrings::MessageBuilder description;
    description << "CreateProcess";
    if (suspended) {
        description << "[suspended]";
    }
    if (visible) {
        description << "[visible]";
    }
    if (inheritHandles) {
        description << "[inherit]";
    }
    description << "(" << appPath << ", " << cmdline << ")";

    if (!CreateProcessW(appPath.c_str(), buffer.data(), nullptr, nullptr,
                        inheritHandles ? TRUE : FALSE, flags, nullptr, nullptr, &si, &pi)) {
        BM_THROW_SYSERROR(description.tstr() << " failed", CreateProcessW);
    }
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);

    LOG_TRACE(description.tstr() << " succeeded; PID="
                                 << static_cast<unsigned long>(pi.dwProcessId));

    if (threadOut) {
        *threadOut = std::move(thread);
    } else {
        thread.reset();
    }

    if (jobObject) {
        LOG_TRACE("AssignProcessToJobObject(PID=" << static_cast<unsigned long>(pi.dwProcessId)
                                                  << ")");
        if (!AssignProcessToJobObject(jobObject, process.get())) {
            const DWORD error = GetLastError();
            // A child outside the job the caller wanted would run on
            // unlimited, and a suspended one would wait forever.
            if (!TerminateProcess(process.get(), error)) {
                LOG_WARNING("TerminateProcess(PID=" << static_cast<unsigned long>(pi.dwProcessId)
                                                    << ") failed with error=" << GetLastError());
            }
            BM_THROW_SYSERROR_CODE("AssignProcessToJobObject() failed", AssignProcessToJobObject,
                                   error);
        }
    }

    if (onProcessCreated) {
        onProcessCreated(process.get());
    }
    return process;
}

DWORD Executor::execAndWaitForExit() const {
    UniqueHandle thread;
    const UniqueHandle process = startProcess(&thread);

    if (suspended) {
        LOG_TRACE("ResumeThread()");
        if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
            BM_THROW_SYSERROR("ResumeThread() failed", ResumeThread);
        }
    }

    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) {
        BM_THROW_SYSERROR("WaitForSingleObject() failed", WaitForSingleObject);
    }

    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        BM_THROW_SYSERROR("GetExitCodeProcess() failed", GetExitCodeProcess);
    }

    const DWORD pid = GetProcessId(process.get());
    if (pid == 0) {
        BM_THROW_SYSERROR("GetProcessId() failed.", GetProcessId);
    }

    LOG_TRACE("Process with PID=" << static_cast<unsigned long>(pid) << " terminated. Exit code="
                                  << static_cast<unsigned long>(exitCode));
    return exitCode;
}
