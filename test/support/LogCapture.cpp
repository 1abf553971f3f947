#include "LogCapture.h"

#include <algorithm>

namespace bmtest {

tstring_array LogRecorder::messages() const {
    tstring_array result;
    for (const LogEvent& e : events) {
        result.push_back(e.message);
    }
    return result;
}

tstring_array LogRecorder::lines() const {
    tstring_array result;
    for (const LogEvent& e : events) {
        result.push_back(e.levelName + L": " + e.message);
    }
    return result;
}

bool LogRecorder::contains(const tstring& line) const {
    const tstring_array all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
}

std::vector<LogEvent> LogRecorder::at(const tstring& levelName) const {
    std::vector<LogEvent> result;
    for (const LogEvent& e : events) {
        if (e.levelName == levelName) {
            result.push_back(e);
        }
    }
    return result;
}

LogCapture::LogCapture() : previous(Logger::instance().installAppender(this)) {
    Logger::instance().setThreshold(LogLevel::Trace);
}

LogCapture::~LogCapture() {
    Logger::instance().installAppender(previous);
}

}  // namespace bmtest
