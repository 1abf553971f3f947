#include "Log.h"

#include <iostream>
#include <sstream>

#include "FileUtils.h"
#include "NoDestructor.h"
#include "WinSysInfo.h"

namespace {

// Plain static storage without constructors: the logger must work before and
// after every other static object.
const size_t moduleNameSize = 260;
wchar_t moduleName[moduleNameSize] = L"Unknown";
int moduleNameState;

void initModuleName() {
    tstring name = L"Unknown";
    try {
        name = FileUtils::basename(SysInfo::getCurrentModulePath());
    } catch (const std::runtime_error&) {
    }
    name.resize(moduleNameSize - 1, L'\0');
    name.copy(moduleName, moduleNameSize - 1);
    moduleName[moduleNameSize - 1] = L'\0';
}

}  // namespace

Logger Logger::theLogger;

const wchar_t* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::Trace:
            return L"TRACE";
        case LogLevel::Info:
            return L"INFO";
        case LogLevel::Warning:
            return L"WARNING";
        case LogLevel::Error:
            return L"ERROR";
    }
    return L"UNKNOWN";
}

LogEvent::LogEvent() : time(), threadId(0), processId(0), module(nullptr), line(0) {}

void LogEvent::stamp() {
    GetLocalTime(&time);
    processId = GetCurrentProcessId();
    threadId = GetCurrentThreadId();
    module = moduleName;
}

void LogEvent::appendPrefix(const LogEvent& event, tstring& text) {
    const SYSTEMTIME& t = event.time;
    text += tstrings::format(L"%04u/%02u/%02u %02u:%02u:%02u.%03u, %s (PID: %u, TID: %u), ",
                             unsigned(t.wYear), unsigned(t.wMonth), unsigned(t.wDay),
                             unsigned(t.wHour), unsigned(t.wMinute), unsigned(t.wSecond),
                             unsigned(t.wMilliseconds), event.module ? event.module : L"",
                             unsigned(event.processId), unsigned(event.threadId));
}

Logger::Logger(LogAppender& appender, LogLevel threshold)
    : threshold(threshold), appender(&appender) {}

Logger& Logger::instance() {
    if (!theLogger.appender) {
        // A record logged from another static constructor may come before
        // the standard streams exist.
        static std::ios_base::Init streamsReady;
        static NoDestructor<StreamLogAppender> defaultAppender(std::cout);
        theLogger.appender = defaultAppender.get();
    }
    if (moduleNameState == 1) {
        // Asked again while the module name is being looked up.
        moduleName[0] = L'\0';
    } else if (moduleNameState == 0) {
        moduleNameState = 1;
        initModuleName();
        moduleNameState = 2;
    }
    return theLogger;
}

Logger& Logger::setThreshold(LogLevel level) {
    threshold = level;
    return *this;
}

LogAppender* Logger::installAppender(LogAppender* newAppender) {
    LogAppender* old = appender;
    appender = newAppender;
    return old;
}

void Logger::log(LogLevel level, const wchar_t* file, int line, const wchar_t* function,
                 const tstring& message) const {
    LogEvent event;
    event.stamp();
    event.file = FileUtils::basename(file ? file : L"");
    event.function = function ? function : L"";
    event.levelName = levelName(level);
    event.line = line;
    event.message = message;
    // Null only when installed so by hand and not yet replaced by instance().
    if (appender) {
        appender->append(event);
    }
}

void Logger::log(LogLevel level, const wchar_t* file, int line, const wchar_t* function,
                 const tstrings::MessageBuilder& message) const {
    log(level, file, line, function, message.tstr());
}

void StreamLogAppender::append(const LogEvent& event) {
    std::wostringstream os;
    tstring prefix;
    LogEvent::appendPrefix(event, prefix);
    os << L"[" << prefix << event.file << L":" << event.line << L" (" << event.function << L")"
       << L"]" << L"\n"
       << L"\t" << event.levelName << L": " << event.message;
    *stream << tstrings::toUtf8(os.str()) << std::endl;
}

void TeeLogAppender::append(const LogEvent& event) {
    if (first) {
        first->append(event);
    }
    if (second) {
        second->append(event);
    }
}

WithExtraLogAppender::WithExtraLogAppender(LogAppender& extra)
    : previous(Logger::instance().currentAppender()), tee(previous, &extra) {
    Logger::instance().installAppender(&tee);
}

WithExtraLogAppender::~WithExtraLogAppender() {
    Logger::instance().installAppender(previous);
}

TraceScope::TraceScope(const Logger& logger, LogLevel level, const wchar_t* file, int line,
                       const wchar_t* function, const tstring& scopeName)
    : logger(logger),
      level(level),
      file(file),
      line(line),
      function(function),
      scopeName(scopeName),
      active(logger.accepts(level)) {
    if (active) {
        logger.log(level, this->file.c_str(), line, this->function.c_str(),
                   tstrings::MessageBuilder() << "Entering " << scopeName);
    }
}

TraceScope::~TraceScope() {
    if (!active) {
        return;
    }
    try {
        logger.log(level, file.c_str(), 0, function.c_str(),
                   tstrings::MessageBuilder() << "Exiting " << scopeName << " (entered at "
                                              << FileUtils::basename(file) << ":" << line << ")");
    } catch (...) {
        // A destructor must not raise, and logging through the guard could
        // fail the same way again.
    }
}
