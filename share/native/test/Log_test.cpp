#include "Log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <vector>

#include "LogCapture.h"

namespace {

using bmtest::LogRecorder;

// Logs from a static constructor, before main and in an order the linker
// chooses: the logger must already work then.
struct LogsAtStartAndExit {
    LogsAtStartAndExit() {
        LogRecorder sink;
        LogAppender* previous = Logger::instance().installAppender(&sink);
        LOG_INFO("static " << 1);
        Logger::instance().installAppender(previous);
        logged = sink.messages();
    }
    ~LogsAtStartAndExit() { LOG_TRACE("static destructor"); }
    std::vector<tstring> logged;
} logsAtStartAndExit;

tstring exeName() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const tstring full(path, n);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

}  // namespace

TEST(Logger, WorksFromStaticConstructors) {
    EXPECT_EQ(std::vector<tstring>{L"static 1"}, logsAtStartAndExit.logged);
}

TEST(Logger, StreamAppenderWritesTheTwoLineRecord) {
    std::ostringstream out;
    StreamLogAppender appender(out);
    Logger logger(appender, LogLevel::Trace);
    logger.log(LogLevel::Trace, L"C:\\src/dir\\F.cpp", 126, L"app::launch",
               tstrings::MessageBuilder("Entering app::launch"));

    const std::string text = out.str();
    const std::regex record(
        R"(\[(\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}), ([^ ]+) \(PID: (\d+), TID: (\d+)\), F\.cpp:126 \(app::launch\)\]
\tTRACE: Entering app::launch
)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, record)) << text;
    EXPECT_EQ(tstrings::toUtf8(exeName()), m[8].str());
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), m[9].str());
    EXPECT_EQ(std::to_string(GetCurrentThreadId()), m[10].str());

    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(now.wYear, std::stoi(m[1].str()));
}

TEST(Logger, LevelsThresholdAndNames) {
    LogRecorder sink;
    Logger logger(sink, LogLevel::Trace);
    for (int level : {0, 1, 2, 3, 4, -1}) {
        logger.log(static_cast<LogLevel>(level), L"f", 1, L"g", tstring(L"m"));
    }
    std::vector<tstring> names;
    for (const LogEvent& e : sink.events) {
        names.push_back(e.levelName);
    }
    EXPECT_EQ(
        (std::vector<tstring>{L"TRACE", L"INFO", L"WARNING", L"ERROR", L"UNKNOWN", L"UNKNOWN"}),
        names);

    logger.setThreshold(LogLevel::Error);
    EXPECT_FALSE(logger.accepts(LogLevel::Warning));
    EXPECT_TRUE(logger.accepts(LogLevel::Error));
    // log() itself never filters: the records of caught errors rely on it.
    logger.log(LogLevel::Warning, L"f", 1, L"g", tstring(L"m"));
    EXPECT_EQ(7u, sink.events.size());
}

TEST(Logger, TraceScopeEntersAndExits) {
    LogRecorder sink;
    Logger logger(sink, LogLevel::Trace);
    {
        TraceScope scope(logger, LogLevel::Trace, L"dir\\F.cpp", 126, L"app::launch",
                         L"app::launch");
    }
    ASSERT_EQ(2u, sink.events.size());
    EXPECT_EQ(L"Entering app::launch", sink.events[0].message);
    EXPECT_EQ(126, sink.events[0].line);
    EXPECT_EQ(L"Exiting app::launch (entered at F.cpp:126)", sink.events[1].message);
    EXPECT_EQ(0, sink.events[1].line);
    EXPECT_EQ(L"F.cpp", sink.events[1].file);

    logger.setThreshold(LogLevel::Info);
    { TraceScope quiet(logger, LogLevel::Trace, L"F.cpp", 1, L"f", L"f"); }
    EXPECT_EQ(2u, sink.events.size());
}

TEST(Logger, TeeAndNestedExtraAppendersRestoreInTurn) {
    LogRecorder base, extra1, extra2;
    Logger& logger = Logger::instance();
    LogAppender* original = logger.installAppender(&base);
    {
        WithExtraLogAppender outer(extra1);
        LOG_INFO("one");
        {
            WithExtraLogAppender inner(extra2);
            LOG_INFO("two");
        }
        LOG_INFO("three");
    }
    LOG_INFO("four");
    EXPECT_EQ(&base, logger.installAppender(original));

    EXPECT_EQ((std::vector<tstring>{L"one", L"two", L"three", L"four"}), base.messages());
    EXPECT_EQ((std::vector<tstring>{L"one", L"two", L"three"}), extra1.messages());
    EXPECT_EQ((std::vector<tstring>{L"two"}), extra2.messages());

    LogRecorder only;
    LogEvent event;
    TeeLogAppender(nullptr, &only).append(event);
    TeeLogAppender(&only, nullptr).append(event);
    EXPECT_EQ(2u, only.messages().size());
}

TEST(Logger, NullAppenderFallsBackToStandardOutput) {
    Logger& logger = Logger::instance();
    LogAppender* original = logger.installAppender(nullptr);
    LogAppender* fallback = Logger::instance().currentAppender();
    EXPECT_NE(nullptr, fallback);
    EXPECT_NE(nullptr, dynamic_cast<StreamLogAppender*>(fallback));
    logger.installAppender(original);
}
