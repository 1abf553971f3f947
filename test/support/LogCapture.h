#pragma once

// Log records as tests see them: kept by an appender a test hands to a logger
// of its own, or captured from the process-wide logger for a while.

#include <vector>

#include "Log.h"

namespace bmtest {

class LogRecorder : public LogAppender {
public:
    void append(const LogEvent& event) override { events.push_back(event); }

    tstring_array messages() const;
    // "LEVEL: message" per record, the form most expectations are written in.
    tstring_array lines() const;
    bool contains(const tstring& line) const;
    std::vector<LogEvent> at(const tstring& levelName) const;

    std::vector<LogEvent> events;
};

// Receives every record of the process-wide logger, at every level, for as
// long as it lives; the appender before it gets them again afterwards.
class LogCapture : public LogRecorder {
public:
    LogCapture();
    ~LogCapture() override;

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

private:
    LogAppender* previous;
};

}  // namespace bmtest
