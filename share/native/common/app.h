#pragma once

#include <new>
#include <string>

class LogAppender;

namespace app {

// The program's main body.
typedef void (*LauncherFunc)();

// Runs `launcher` and returns 0 when it returns and 1 when it raises; nothing
// it raises gets out. While it runs, the process-wide logger writes to standard
// error in a logging run and drops every record otherwise. The error that ends
// it is logged at ERROR and then shown through `lastErrorLogAppender` (standard
// error when null), which reads the plain message from lastErrorMsg().
int launch(const std::nothrow_t&, LauncherFunc launcher,
           LogAppender* lastErrorLogAppender = nullptr);

// The plain message of the error being reported, or the empty string outside
// that report. UTF-8.
std::string lastErrorMsg();

// The appender that writes lastErrorMsg() to standard error; it lives for the
// whole process.
LogAppender* defaultLastErrorLogAppender();

// The appender launch() installed in the logger: standard error in a logging
// run, nothing otherwise. It lives for the whole process.
LogAppender* defaultLogAppender();

// Whether BRUMLET_DEBUG is exactly "true". Read afresh at every call.
bool isLoggingEnabled();

}  // namespace app
