#pragma once

#include <windows.h>

#include "ErrorHandling.h"
#include "tstrings.h"

// The platform headers define ERROR as a macro, so the levels carry their
// printed names only through levelName().
enum class LogLevel : int { Trace = 0, Info = 1, Warning = 2, Error = 3 };

const wchar_t* levelName(LogLevel level);

struct LogEvent {
    SYSTEMTIME time;
    DWORD threadId;
    DWORD processId;
    const wchar_t* module;
    tstring levelName;
    tstring file;
    int line;
    tstring function;
    tstring message;

    LogEvent();

    void stamp();
    static void appendPrefix(const LogEvent& event, tstring& text);
};

class LogAppender {
public:
    virtual ~LogAppender() = default;
    virtual void append(const LogEvent& event) = 0;
};

class Logger {
public:
    Logger(LogAppender& appender, LogLevel threshold);

    // The process-wide logger. Its storage is zero-initialised, so it works
    // from any static constructor or destructor.
    static Logger& instance();

    Logger& setThreshold(LogLevel level);
    bool accepts(LogLevel level) const {
        return static_cast<int>(level) >= static_cast<int>(threshold);
    }
    LogAppender* installAppender(LogAppender* appender);
    LogAppender* currentAppender() const { return appender; }

    void log(LogLevel level, const wchar_t* file, int line, const wchar_t* function,
             const tstring& message) const;
    void log(LogLevel level, const wchar_t* file, int line, const wchar_t* function,
             const tstrings::MessageBuilder& message) const;

private:
    Logger() = default;

    static Logger theLogger;

    LogLevel threshold;
    LogAppender* appender;
};

class StreamLogAppender : public LogAppender {
public:
    explicit StreamLogAppender(std::ostream& stream) : stream(&stream) {}
    void append(const LogEvent& event) override;

private:
    std::ostream* stream;
};

class TeeLogAppender : public LogAppender {
public:
    TeeLogAppender(LogAppender* first, LogAppender* second) : first(first), second(second) {}
    void append(const LogEvent& event) override;

private:
    LogAppender* first;
    LogAppender* second;
};

class NopLogAppender : public LogAppender {
public:
    void append(const LogEvent&) override {}
};

// Sends every record to one more appender for as long as it lives.
class WithExtraLogAppender {
public:
    explicit WithExtraLogAppender(LogAppender& extra);
    virtual ~WithExtraLogAppender();

    WithExtraLogAppender(const WithExtraLogAppender&) = delete;
    WithExtraLogAppender& operator=(const WithExtraLogAppender&) = delete;

private:
    LogAppender* previous;
    TeeLogAppender tee;
};

class TraceScope {
public:
    TraceScope(const Logger& logger, LogLevel level, const wchar_t* file, int line,
               const wchar_t* function, const tstring& scopeName);
    ~TraceScope();

    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    const Logger& logger;
    LogLevel level;
    tstring file;
    int line;
    tstring function;
    tstring scopeName;
    bool active;
};

// Log statements ask the logger first and build the message only when the
// level is accepted.
#define BM_LOG(level, msg)                                               \
    do {                                                                 \
        const ::Logger& bm_logger_ = ::Logger::instance();               \
        if (bm_logger_.accepts(level)) {                                 \
            bm_logger_.log(level, BM_WFILE, __LINE__, BM_WFUNCTION_NAME, \
                           ::tstrings::MessageBuilder() << msg);         \
        }                                                                \
    } while (0)

#define LOG_TRACE(msg) BM_LOG(::LogLevel::Trace, msg)
#define LOG_INFO(msg) BM_LOG(::LogLevel::Info, msg)
#define LOG_WARNING(msg) BM_LOG(::LogLevel::Warning, msg)
#define LOG_ERROR(msg) BM_LOG(::LogLevel::Error, msg)

// Traces entry and exit of the enclosing scope at TRACE under the given name.
#define BM_TRACE_SCOPE(name)                                  \
    const ::TraceScope BM_CONCAT_(bm_trace_scope_, __LINE__)( \
        ::Logger::instance(), ::LogLevel::Trace, BM_WFILE, __LINE__, BM_WFUNCTION_NAME, name)
