#include "app.h"

#include <iostream>
#include <memory>

#include "ErrorHandling.h"
#include "Log.h"
#include "NoDestructor.h"
#include "WinSysInfo.h"
#include "tstrings.h"

namespace {

// Set only while an error is being reported; points into app::launch's frame.
const std::string* lastErrorMsgPtr;

class StandardLogAppender : public LogAppender {
public:
    void append(const LogEvent& event) override {
        std::cerr << "[" << tstrings::toUtf8(event.levelName) << "] "
                  << tstrings::toUtf8(event.file) << ":" << event.line << ": "
                  << tstrings::toUtf8(event.message) << std::endl;
    }
};

class LastErrorLogAppender : public LogAppender {
public:
    void append(const LogEvent&) override { std::cerr << app::lastErrorMsg() << std::endl; }
};

LogAppender* installedDefaultAppender;

// The appenders are never destroyed: the logger may still be called from
// other objects' static destructors.
LogAppender& makeDefaultAppender(bool loggingEnabled) {
    if (loggingEnabled) {
        static NoDestructor<StandardLogAppender> standard;
        return *standard;
    }
    static NoDestructor<NopLogAppender> nop;
    return *nop;
}

// Adds the last-error appender to the logger once the launcher function's own
// objects are gone, so that only the report of its error reaches the user.
class SetLoggerAtEndOfScope {
public:
    SetLoggerAtEndOfScope(std::unique_ptr<WithExtraLogAppender>& withLogAppender,
                          LogAppender* lastErrorLogAppender)
        : withLogAppender(withLogAppender), lastErrorLogAppender(lastErrorLogAppender) {}

    ~SetLoggerAtEndOfScope() {
        try {
            withLogAppender.reset(new WithExtraLogAppender(*lastErrorLogAppender));
        }
        BM_GUARD_CATCH
    }

    SetLoggerAtEndOfScope(const SetLoggerAtEndOfScope&) = delete;
    SetLoggerAtEndOfScope& operator=(const SetLoggerAtEndOfScope&) = delete;

private:
    std::unique_ptr<WithExtraLogAppender>& withLogAppender;
    LogAppender* lastErrorLogAppender;
};

class ResetLastErrorMsgAtEndOfScope {
public:
    ResetLastErrorMsgAtEndOfScope() = default;
    ~ResetLastErrorMsgAtEndOfScope() {
        try {
            lastErrorMsgPtr = nullptr;
        }
        BM_GUARD_CATCH
    }

    ResetLastErrorMsgAtEndOfScope(const ResetLastErrorMsgAtEndOfScope&) = delete;
    ResetLastErrorMsgAtEndOfScope& operator=(const ResetLastErrorMsgAtEndOfScope&) = delete;
};

// Error texts are UTF-8 and go through unchanged. A text that is not UTF-8
// (from code outside this program) is taken byte by byte rather than lost.
std::string plainMessage(const char* text) {
    const std::string narrow = text ? text : "";
    const tstring wide = tstrings::fromUtf8(narrow);
    tstrings::MessageBuilder msg;
    if (wide.empty() && !narrow.empty()) {
        msg << narrow.c_str();
    } else {
        msg << wide;
    }
    return msg.str();
}

}  // namespace

namespace app {

bool isLoggingEnabled() {
    return SysInfo::getEnvVariable(std::nothrow, L"BRUMLET_DEBUG", tstring()) == L"true";
}

LogAppender* defaultLastErrorLogAppender() {
    static NoDestructor<LastErrorLogAppender> lastError;
    return lastError.get();
}

LogAppender* defaultLogAppender() {
    return installedDefaultAppender ? installedDefaultAppender : &makeDefaultAppender(false);
}

std::string lastErrorMsg() {
    return lastErrorMsgPtr ? *lastErrorMsgPtr : std::string();
}

int launch(const std::nothrow_t&, LauncherFunc launcher, LogAppender* lastErrorLogAppender) {
    installedDefaultAppender = &makeDefaultAppender(isLoggingEnabled());
    Logger::instance().installAppender(installedDefaultAppender);

    BM_TRACE_SCOPE(L"app::launch");

    if (!lastErrorLogAppender) {
        lastErrorLogAppender = defaultLastErrorLogAppender();
    }

    // Declared in this order so that they end in the reverse one: the message
    // is withdrawn before its storage goes, and the last-error appender is
    // removed before the exit of this scope is traced.
    std::unique_ptr<WithExtraLogAppender> withLogAppender;
    std::string errorMsg;
    const ResetLastErrorMsgAtEndOfScope resetLastErrorMsg;

    // The report's record must be logged after the message is published: the
    // last-error appenders read it from there.
    try {
        const SetLoggerAtEndOfScope setLogger(withLogAppender, lastErrorLogAppender);
        launcher();
        return 0;
    } catch (const BmErrorBase& e) {
        errorMsg = plainMessage(e.bareMessage());
        lastErrorMsgPtr = &errorMsg;
        try {
            throw;
        } catch (const std::runtime_error& re) {
            logException(BM_SOURCE_LOCATION, re);
        } catch (...) {
            logUnknownException(BM_SOURCE_LOCATION);
        }
    } catch (const std::runtime_error& e) {
        // The error's own message: errno may still hold the code of some
        // earlier, unrelated call, and a full disk once read "File exists".
        errorMsg = plainMessage(e.what());
        lastErrorMsgPtr = &errorMsg;
        logException(BM_SOURCE_LOCATION, e);
    } catch (...) {
        errorMsg = "Unknown error";
        lastErrorMsgPtr = &errorMsg;
        logUnknownException(BM_SOURCE_LOCATION);
    }
    return 1;
}

}  // namespace app
