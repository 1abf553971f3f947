#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "Log.h"
#include "app.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        result.push_back(line);
    }
    return result;
}

// What the last-error appender saw: the plain message at the time of the
// record, once per record.
class RecordingAppender : public LogAppender {
public:
    void append(const LogEvent& event) override {
        seen.push_back(app::lastErrorMsg());
        levels.push_back(tstrings::toUtf8(event.levelName));
    }
    std::vector<std::string> seen;
    std::vector<std::string> levels;
};

class AppLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        previousAppender = Logger::instance().currentAppender();
        previousCerr = std::cerr.rdbuf(captured.rdbuf());
        SetEnvironmentVariableW(L"BRUMLET_DEBUG", nullptr);
    }
    void TearDown() override {
        std::cerr.rdbuf(previousCerr);
        Logger::instance().installAppender(previousAppender);
        SetEnvironmentVariableW(L"BRUMLET_DEBUG", nullptr);
    }

    std::vector<std::string> stderrLines() const { return lines(captured.str()); }

    std::ostringstream captured;
    std::streambuf* previousCerr = nullptr;
    LogAppender* previousAppender = nullptr;
};

void returns() {
    LOG_TRACE("body ran");
}

struct LogsWhenItEnds {
    ~LogsWhenItEnds() { LOG_TRACE("cleanup ran"); }
};

void raisesLocated() {
    const LogsWhenItEnds local;
    BM_THROW("cannot find resource (name='product_code', type='#10')");
}

void raisesRuntime() {
    throw std::runtime_error("plain failure");
}

void raisesInteger() {
    throw 42;
}

TEST_F(AppLaunch, ResultAndLastErrorLineForEachOutcome) {
    EXPECT_EQ(0, app::launch(std::nothrow, returns));
    EXPECT_TRUE(captured.str().empty());

    EXPECT_EQ(1, app::launch(std::nothrow, raisesLocated));
    EXPECT_EQ(1, app::launch(std::nothrow, raisesInteger));
    errno = 0;
    EXPECT_EQ(1, app::launch(std::nothrow, raisesRuntime));
    // A plain runtime error shows its own message, whatever errno holds.
    errno = ENOENT;
    EXPECT_EQ(1, app::launch(std::nothrow, raisesRuntime));
    errno = 0;
    EXPECT_THAT(stderrLines(), ElementsAre("cannot find resource (name='product_code', type='#10')",
                                           "Unknown error", "plain failure", "plain failure"));
    EXPECT_EQ("", app::lastErrorMsg());
}

TEST_F(AppLaunch, LoggingRunTracesAndReportsTheErrorOnce) {
    SetEnvironmentVariableW(L"BRUMLET_DEBUG", L"true");
    RecordingAppender lastError;
    EXPECT_EQ(1, app::launch(std::nothrow, raisesLocated, &lastError));

    // Only the handler's record reaches the last-error appender, and the
    // message is published by then.
    EXPECT_THAT(lastError.seen,
                ElementsAre("cannot find resource (name='product_code', type='#10')"));
    EXPECT_THAT(lastError.levels, ElementsAre("ERROR"));
    EXPECT_EQ("", app::lastErrorMsg());

    EXPECT_THAT(
        stderrLines(),
        ElementsAre(
            MatchesRegex("\\[TRACE\\] app\\.cpp:\\d+: Entering app::launch"),
            MatchesRegex("\\[TRACE\\] app_test\\.cpp:\\d+: cleanup ran"),
            MatchesRegex("\\[ERROR\\] app\\.cpp:\\d+: Exception with message "
                         "'app_test\\.cpp\\(\\d+\\) at \\{anonymous\\}::raisesLocated\\(\\): "
                         "cannot find resource \\(name='product_code', type='#10'\\)' caught"),
            MatchesRegex("\\[TRACE\\] app\\.cpp:0: Exiting app::launch \\(entered at "
                         "app\\.cpp:\\d+\\)")));

    // Records after the run go to the console form alone.
    captured.str("");
    LOG_INFO("after the run");
    EXPECT_THAT(stderrLines(),
                ElementsAre(MatchesRegex("\\[INFO\\] app_test\\.cpp:\\d+: after the run")));
}

TEST_F(AppLaunch, OnlyTheExactWordTrueSwitchesLoggingOn) {
    for (const wchar_t* value : {L"", L"TRUE", L"True", L"1", L"true ", L" true", L"yes"}) {
        SetEnvironmentVariableW(L"BRUMLET_DEBUG", value);
        EXPECT_FALSE(app::isLoggingEnabled()) << tstrings::toUtf8(value);
        EXPECT_EQ(1, app::launch(std::nothrow, raisesLocated));
    }
    for (const std::string& line : stderrLines()) {
        EXPECT_EQ("cannot find resource (name='product_code', type='#10')", line);
    }
    EXPECT_EQ(7u, stderrLines().size());

    SetEnvironmentVariableW(L"BRUMLET_DEBUG", L"true");
    EXPECT_TRUE(app::isLoggingEnabled());
}

void raisesNonAscii() {
    BM_THROW(std::string("C:\\Users\\J\xc3\xbcrgen\\main.msi is locked"));
}

TEST_F(AppLaunch, NonAsciiMessageReachesTheUserUnchanged) {
    EXPECT_EQ(1, app::launch(std::nothrow, raisesNonAscii));
    EXPECT_THAT(stderrLines(), ElementsAre("C:\\Users\\J\xc3\xbcrgen\\main.msi is locked"));
}

}  // namespace
