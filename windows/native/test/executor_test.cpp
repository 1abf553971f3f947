#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Executor.h"
#include "Log.h"
#include "UniqueHandle.h"
#include "WinSysInfo.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class CapturingAppender : public LogAppender {
public:
    CapturingAppender() : previous(Logger::instance().installAppender(this)) {}
    ~CapturingAppender() override { Logger::instance().installAppender(previous); }
    void append(const LogEvent& event) override {
        messages.push_back(tstrings::toUtf8(event.levelName + L" " + event.message));
    }
    std::vector<std::string> messages;

private:
    LogAppender* previous;
};

class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const tstring& value) : name(name) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name, nullptr); }

private:
    const wchar_t* name;
};

tstring childPath() {
    const tstring self = SysInfo::getCurrentModulePath();
    return self.substr(0, self.find_last_of(L'\\') + 1) + L"executor_child.exe";
}

struct ChildReport {
    std::string cmdline;
    std::vector<std::string> args;
    std::map<std::string, std::string> values;
};

class ExecutorTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t dir[MAX_PATH + 1] = {};
        ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, dir));
        wchar_t file[MAX_PATH + 1] = {};
        ASSERT_NE(0u, GetTempFileNameW(dir, L"bex", 0, file));
        reportPath = file;
        report.reset(new ScopedEnv(L"BRUMLET_CHILD_REPORT", reportPath));
    }
    void TearDown() override {
        report.reset();
        DeleteFileW(reportPath.c_str());
    }

    ChildReport readReport() const {
        ChildReport r;
        std::ifstream in(tstrings::toUtf8(reportPath), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            const size_t eq = line.find('=');
            const std::string key = line.substr(0, eq);
            const std::string value = line.substr(eq + 1);
            if (key == "cmdline") {
                r.cmdline = value;
            } else if (key == "arg") {
                r.args.push_back(value);
            } else {
                r.values[key] = value;
            }
        }
        return r;
    }

    tstring reportPath;
    std::unique_ptr<ScopedEnv> report;
};

TEST(ExecutorCommandLine, QuotesOnlyElementsWithBlanksOrTabs) {
    Executor exec(L"C:\\Windows\\system32\\msiexec.exe");
    exec.addArg(L"/i").addArg(L"C:\\Users\\John Smith\\AppData\\Local\\Temp\\12.tmp\\main.msi");
    EXPECT_EQ(
        L"C:\\Windows\\system32\\msiexec.exe /i "
        L"\"C:\\Users\\John Smith\\AppData\\Local\\Temp\\12.tmp\\main.msi\"",
        exec.commandLine());

    const tstring_array more = {L"/qn", L"A B"};
    exec.addArgs(more.begin(), more.end()).setAppPath(L"C:\\Program Files\\x.exe");
    EXPECT_EQ(
        L"\"C:\\Program Files\\x.exe\" /i "
        L"\"C:\\Users\\John Smith\\AppData\\Local\\Temp\\12.tmp\\main.msi\" /qn \"A B\"",
        exec.commandLine());
}

// What the child gets is the composed line byte for byte: nothing is escaped,
// so each element reaches it exactly as quoted here.
TEST_F(ExecutorTest, ChildReceivesTheComposedLineUnchanged) {
    const tstring child = childPath();
    Executor exec(child);
    exec.addArg(L"first")
        .addArg(L"")
        .addArg(L"\"already quoted\"")
        .addArg(L"\"")
        .addArg(L"a\tb")
        .addArg(L"say \"hi\" there")
        .addArg(L"C:\\My Dir\\");
    const tstring expected = child +
                             L" first  \"already quoted\" \" \"a\tb\" \"say \"hi\" there\" "
                             L"\"C:\\My Dir\\\"";
    EXPECT_EQ(expected, exec.commandLine());
    EXPECT_EQ(0u, exec.execAndWaitForExit());
    EXPECT_EQ(tstrings::toUtf8(expected), readReport().cmdline);
}

TEST_F(ExecutorTest, ChildParsesQuotedElementsAsSingleArguments) {
    const tstring child = childPath();
    Executor exec(child);
    exec.addArg(L"plain")
        .addArg(L"with blank")
        .addArg(L"a\tb")
        .addArg(L"\"pre quoted\"")
        .addArg(L"C:\\Dir\\");
    EXPECT_EQ(0u, exec.execAndWaitForExit());
    const ChildReport r = readReport();
    EXPECT_EQ("6", r.values.at("argc"));
    EXPECT_EQ((std::vector<std::string>{tstrings::toUtf8(child), "plain", "with blank", "a\tb",
                                        "pre quoted", "C:\\Dir\\"}),
              r.args);
}

TEST_F(ExecutorTest, ReturnsTheFullExitCodeAndTracesTheRun) {
    const tstring child = childPath();
    {
        ScopedEnv code(L"BRUMLET_CHILD_EXIT", L"42");
        EXPECT_EQ(42u, Executor(child).execAndWaitForExit());
    }

    ScopedEnv code(L"BRUMLET_CHILD_EXIT", L"0xC0000005");
    CapturingAppender log;
    const DWORD exitCode = Executor(child).addArg(L"x y").execAndWaitForExit();
    EXPECT_EQ(3221225477u, exitCode);

    ASSERT_EQ(2u, log.messages.size());
    const std::string description = "TRACE CreateProcess(" + tstrings::toUtf8(child) + ", " +
                                    tstrings::toUtf8(child) + " \"x y\") succeeded; PID=";
    EXPECT_THAT(log.messages[0], StartsWith(description));
    const std::string pid = log.messages[0].substr(description.size());
    EXPECT_EQ("TRACE Process with PID=" + pid + " terminated. Exit code=3221225477",
              log.messages[1]);
}

TEST_F(ExecutorTest, ChildRunsHiddenUnlessMadeVisible) {
    Executor exec(childPath());
    EXPECT_EQ(0u, exec.execAndWaitForExit());
    ChildReport r = readReport();
    EXPECT_EQ(std::to_string(STARTF_USESHOWWINDOW), r.values.at("startupFlags"));
    EXPECT_EQ(std::to_string(SW_HIDE), r.values.at("showWindow"));
    EXPECT_EQ("1", r.values.at("windowlessConsole"));

    EXPECT_EQ(0u, exec.setVisible(true).execAndWaitForExit());
    r = readReport();
    EXPECT_EQ("0", r.values.at("startupFlags"));
    EXPECT_EQ("0", r.values.at("windowlessConsole"));
}

TEST_F(ExecutorTest, SuspendedChildWaitsForResume) {
    ScopedEnv code(L"BRUMLET_CHILD_EXIT", L"7");
    Executor exec(childPath());
    exec.setSuspended(true);

    UniqueHandle thread;
    const UniqueHandle process = exec.startProcess(&thread);
    ASSERT_TRUE(process);
    ASSERT_TRUE(thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 200));
    ASSERT_EQ(1u, ResumeThread(thread.get()));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.get(), INFINITE));
    DWORD exitCode = 0;
    ASSERT_TRUE(GetExitCodeProcess(process.get(), &exitCode));
    EXPECT_EQ(7u, exitCode);

    CapturingAppender log;
    EXPECT_EQ(7u, exec.execAndWaitForExit());
    ASSERT_EQ(3u, log.messages.size());
    EXPECT_THAT(log.messages[0], StartsWith("TRACE CreateProcess[suspended]("));
    EXPECT_EQ("TRACE ResumeThread()", log.messages[1]);
}

TEST_F(ExecutorTest, AssignsTheChildToTheJobBeforeTheCallback) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job);
    int calls = 0;
    BOOL inJob = FALSE;
    Executor exec(childPath());
    exec.setJobObject(job.get()).setOnProcessCreated([&](HANDLE process) {
        ++calls;
        IsProcessInJob(process, job.get(), &inJob);
    });

    CapturingAppender log;
    EXPECT_EQ(0u, exec.execAndWaitForExit());
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(inJob);
    ASSERT_GE(log.messages.size(), 2u);
    const std::string pid = log.messages[0].substr(log.messages[0].rfind('=') + 1);
    EXPECT_EQ("TRACE AssignProcessToJobObject(PID=" + pid + ")", log.messages[1]);
    // The job stays the caller's.
    EXPECT_TRUE(job);
    DWORD info = 0;
    EXPECT_TRUE(GetHandleInformation(job.get(), &info));
}

TEST(ExecutorErrors, FailedJobAssignmentRaisesWithoutCallback) {
    // An event is no job: the assignment fails after the child has started.
    UniqueHandle notAJob(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(notAJob);
    bool called = false;
    Executor exec(childPath());
    exec.setJobObject(notAJob.get()).setOnProcessCreated([&](HANDLE) { called = true; });
    try {
        exec.startProcess();
        FAIL() << "no error raised";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("): AssignProcessToJobObject() failed. System error ["));
    }
    EXPECT_FALSE(called);
}

TEST(ExecutorErrors, MissingExecutableRaisesTheFullDescription) {
    const tstring missing = L"C:\\no such dir\\missing.exe";
    try {
        Executor(missing).addArg(L"/q").setSuspended(true).setInheritHandles(true).startProcess();
        FAIL() << "no error raised";
    } catch (const BmErrorBase& e) {
        EXPECT_THAT(e.bareMessage(),
                    StartsWith("CreateProcess[suspended][inherit](C:\\no such dir\\missing.exe, "
                               "\"C:\\no such dir\\missing.exe\" /q) failed. System error ["));
    }
    try {
        Executor(missing).setVisible(true).execAndWaitForExit();
        FAIL() << "no error raised";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(),
                    HasSubstr("): CreateProcess[visible](C:\\no such dir\\missing.exe, "
                              "\"C:\\no such dir\\missing.exe\") failed. System error ["));
    }
}

TEST(UniqueHandleTest, ClosesOnceAndMovesOwnership) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, raw);
    DWORD info = 0;
    {
        UniqueHandle a(raw);
        UniqueHandle b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(raw, b.get());
        b.reset(raw);  // taking the handle it already holds must not close it
        EXPECT_TRUE(GetHandleInformation(raw, &info));
        a = std::move(b);
        EXPECT_EQ(raw, a.get());
    }
    EXPECT_FALSE(GetHandleInformation(raw, &info));

    HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        UniqueHandle c(kept);
        EXPECT_EQ(kept, c.release());
    }
    EXPECT_TRUE(GetHandleInformation(kept, &info));
    CloseHandle(kept);

    EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE));
}

}  // namespace
