#pragma once

#include <windows.h>

#include <functional>

#include "UniqueHandle.h"
#include "tstrings.h"

// Starts one child process from an executable path and its arguments.
//
// Arguments are wrapped in double quotes only when they hold a blank or a tab
// and are never escaped, so a caller who needs different quoting passes the
// argument already quoted.
class Executor {
public:
    typedef std::function<void(HANDLE)> ProcessCallback;

    explicit Executor(const tstring& appPath = tstring());

    Executor& setAppPath(const tstring& path);
    Executor& addArg(const tstring& arg);
    template <class It>
    Executor& addArgs(It first, It last) {
        for (; first != last; ++first) {
            args.push_back(*first);
        }
        return *this;
    }
    Executor& setVisible(bool value);
    Executor& setSuspended(bool value);
    Executor& setInheritHandles(bool value);
    // The job object stays the caller's: it is not closed here.
    Executor& setJobObject(HANDLE job);
    Executor& setOnProcessCreated(const ProcessCallback& callback);
    // Text put after the arguments, one blank apart, exactly as given: a
    // command line received from elsewhere passes on without being split
    // and quoted again.
    Executor& setRawArgs(const tstring& text);

    tstring commandLine() const;

    // The longest command line the system accepts, without its terminator.
    static const size_t maxCommandLineLength = 32766;

    // Starts a new child from the current settings. A command line longer
    // than the system accepts is refused before anything starts. The primary thread's handle
    // goes to `threadOut` when given and is closed otherwise.
    UniqueHandle startProcess(UniqueHandle* threadOut = nullptr) const;

    // Starts a new child, resumes it if it was created suspended, waits for it
    // without a time-out and returns its exit code.
    DWORD execAndWaitForExit() const;

private:
    bool visible;
    bool inheritHandles;
    bool suspended;
    HANDLE jobObject;
    tstring_array args;
    tstring appPath;
    ProcessCallback onProcessCreated;
    tstring rawArgs;
};
