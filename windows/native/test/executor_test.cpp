#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "ErrorOf.h"
#include "Executor.h"
#include "LogCapture.h"
#include "TempDirTest.h"
#include "UniqueHandle.h"
#include "WinSysInfo.h"

namespace {

using bmtest::errorOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Runs executor_child.exe (beside this test), which reports what it received.
class ExecutorTest : public bmtest::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        SysInfo::setEnvVariable(L"BRUMLET_CHILD_REPORT", path(L"report.txt"));
        SysInfo::setEnvVariable(L"BRUMLET_CHILD_EXIT", L"0");
        const tstring self = SysInfo::getCurrentModulePath();
        child = self.substr(0, self.find_last_of(L'\\') + 1) + L"executor_child.exe";
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"BRUMLET_CHILD_REPORT", nullptr);
        SetEnvironmentVariableW(L"BRUMLET_CHILD_EXIT", nullptr);
        TempDirTest::TearDown();
    }

    // "key" -> value; "arg" collects every parsed argument, "\t"-separated.
    std::map<std::string, std::string> report() const {
        std::map<std::string, std::string> values;
        std::istringstream in(readFile(path(L"report.txt")));
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            std::string& value = values[line.substr(0, eq)];
            value += (value.empty() ? "" : "|") + line.substr(eq + 1);
        }
        return values;
    }

    tstring child;
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
    EXPECT_THAT(exec.commandLine(), StartsWith(L"\"C:\\Program Files\\x.exe\" /i \"C:\\Users"));
    EXPECT_THAT(exec.commandLine(), HasSubstr(L"main.msi\" /qn \"A B\""));
}

// Nothing is escaped: the child gets the composed line byte for byte, and the
// elements before the first one that the usual argument rules would misread
// arrive as single arguments.
TEST_F(ExecutorTest, ChildReceivesTheComposedLine) {
    Executor exec(child);
    exec.addArg(L"with blank")
        .addArg(L"a\tb")
        .addArg(L"\"pre quoted\"")
        .addArg(L"")
        .addArg(L"\"")
        .addArg(L"say \"hi\" there")
        .addArg(L"C:\\My Dir\\");
    const tstring expected =
        child +
        L" \"with blank\" \"a\tb\" \"pre quoted\"  \" \"say \"hi\" there\" \"C:\\My Dir\\\"";
    EXPECT_EQ(expected, exec.commandLine());
    EXPECT_EQ(0u, exec.execAndWaitForExit());

    const auto r = report();
    EXPECT_EQ(tstrings::toUtf8(expected), r.at("cmdline"));
    EXPECT_THAT(r.at("arg"), StartsWith(tstrings::toUtf8(child) + "|with blank|a\tb|pre quoted|"));
}

TEST_F(ExecutorTest, ReturnsTheFullExitCodeAndTracesTheRun) {
    SysInfo::setEnvVariable(L"BRUMLET_CHILD_EXIT", L"0xC0000005");
    bmtest::LogCapture log;
    EXPECT_EQ(3221225477u, Executor(child).addArg(L"x y").execAndWaitForExit());

    ASSERT_EQ(2u, log.events.size());
    const tstring started =
        L"TRACE: CreateProcess(" + child + L", " + child + L" \"x y\") succeeded; PID=";
    EXPECT_THAT(log.lines()[0], StartsWith(started));
    const tstring pid = log.lines()[0].substr(started.size());
    EXPECT_EQ(L"TRACE: Process with PID=" + pid + L" terminated. Exit code=3221225477",
              log.lines()[1]);
}

TEST_F(ExecutorTest, ChildRunsHiddenWithoutConsoleWindowUnlessMadeVisible) {
    Executor exec(child);
    exec.execAndWaitForExit();
    auto r = report();
    EXPECT_EQ(std::to_string(STARTF_USESHOWWINDOW), r.at("startupFlags"));
    EXPECT_EQ(std::to_string(SW_HIDE), r.at("showWindow"));
    EXPECT_EQ("1", r.at("windowlessConsole"));

    exec.setVisible(true).execAndWaitForExit();
    r = report();
    EXPECT_EQ("0", r.at("startupFlags"));
    EXPECT_EQ("0", r.at("windowlessConsole"));
}

TEST_F(ExecutorTest, SuspendedChildRunsOnlyWhenResumed) {
    SysInfo::setEnvVariable(L"BRUMLET_CHILD_EXIT", L"7");
    Executor exec(child);
    exec.setSuspended(true);

    UniqueHandle thread;
    const UniqueHandle process = exec.startProcess(&thread);
    ASSERT_TRUE(process && thread);
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 200));
    ResumeThread(thread.get());
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(process.get(), 10000));

    bmtest::LogCapture log;
    EXPECT_EQ(7u, exec.execAndWaitForExit());
    EXPECT_THAT(log.lines()[0], StartsWith(L"TRACE: CreateProcess[suspended]("));
    EXPECT_EQ(L"TRACE: ResumeThread()", log.lines().at(1));
}

TEST_F(ExecutorTest, JobAssignmentComesBeforeTheCallback) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job);
    int calls = 0;
    BOOL inJob = FALSE;
    Executor exec(child);
    exec.setJobObject(job.get()).setOnProcessCreated([&](HANDLE process) {
        ++calls;
        IsProcessInJob(process, job.get(), &inJob);
    });
    bmtest::LogCapture log;
    exec.execAndWaitForExit();
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(inJob);
    const tstring pid = log.lines().at(0).substr(log.lines()[0].rfind(L'=') + 1);
    EXPECT_EQ(L"TRACE: AssignProcessToJobObject(PID=" + pid + L")", log.lines().at(1));
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(job.get(), &flags)) << "the job is the caller's";

    // An event is no job: the child starts, then the assignment fails, and
    // the child is ended rather than left running outside the job.
    SetEnvironmentVariableW(L"BRUMLET_CHILD_REPORT", nullptr);
    SetEnvironmentVariableW(L"BRUMLET_CHILD_SLEEP", L"30000");
    UniqueHandle notAJob(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    exec.setJobObject(notAJob.get());
    log.events.clear();
    EXPECT_THAT(errorOf([&] { exec.startProcess(); }),
                HasSubstr("): AssignProcessToJobObject() failed. System error ["));
    SetEnvironmentVariableW(L"BRUMLET_CHILD_SLEEP", nullptr);
    EXPECT_EQ(1, calls);
    const DWORD childPid = std::stoul(log.lines().at(0).substr(log.lines()[0].rfind(L'=') + 1));
    UniqueHandle leftChild(OpenProcess(SYNCHRONIZE, FALSE, childPid));
    EXPECT_TRUE(!leftChild || WaitForSingleObject(leftChild.get(), 5000) == WAIT_OBJECT_0)
        << "the child still runs";
}

TEST(ExecutorErrors, MissingExecutableRaisesTheFullDescription) {
    const tstring missing = L"C:\\no such dir\\missing.exe";
    EXPECT_THAT(errorOf([&] {
                    Executor(missing)
                        .addArg(L"/q")
                        .setSuspended(true)
                        .setInheritHandles(true)
                        .execAndWaitForExit();
                }),
                HasSubstr("): CreateProcess[suspended][inherit](C:\\no such dir\\missing.exe, "
                          "\"C:\\no such dir\\missing.exe\" /q) failed. System error ["));
    EXPECT_THAT(errorOf([&] { Executor(missing).setVisible(true).startProcess(); }),
                HasSubstr("): CreateProcess[visible](C:\\no such dir\\missing.exe, "
                          "\"C:\\no such dir\\missing.exe\") failed. System error ["));
}

TEST(UniqueHandleTest, ClosesExactlyWhatItOwns) {
    const HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0;
    {
        UniqueHandle a(raw);
        UniqueHandle b(std::move(a));
        EXPECT_FALSE(a);
        b.reset(raw);  // taking the handle it already holds must not close it
        EXPECT_TRUE(GetHandleInformation(raw, &flags));
        a = std::move(b);
        EXPECT_EQ(raw, a.get());
    }
    EXPECT_FALSE(GetHandleInformation(raw, &flags));

    const HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle(kept).release();
    EXPECT_TRUE(GetHandleInformation(kept, &flags));
    CloseHandle(kept);
    EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE));
}

}  // namespace
