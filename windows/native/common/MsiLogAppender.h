#pragma once

#include <windows.h>

#include <msi.h>

#include "Log.h"
#include "tstrings.h"

namespace msi {

// Sends log records into the log of the installation a custom action runs in,
// one informational message per record.
class MsiLogAppender : public LogAppender {
public:
    // Records from any thread but the creating one carry their thread id.
    explicit MsiLogAppender(MSIHANDLE install);

    void append(const LogEvent& event) override;

    // The text of one record in the installer's log:
    // "[hh:mm:ss.mmm file:line (function)] LEVEL: message".
    tstring formatEvent(const LogEvent& event) const;

private:
    MSIHANDLE install;
    DWORD threadId;
};

// While it lives, every log record goes to the installer's log first and then
// to the appender that was installed before. Scopes must end in the reverse
// order of their beginning.
class MsiLogScope {
public:
    explicit MsiLogScope(MSIHANDLE install);
    ~MsiLogScope();

    MsiLogScope(const MsiLogScope&) = delete;
    MsiLogScope& operator=(const MsiLogScope&) = delete;

private:
    MsiLogAppender appender;
    LogAppender* previous;
    TeeLogAppender tee;
};

}  // namespace msi
