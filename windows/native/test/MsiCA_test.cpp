#include "MsiCA.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "ErrorHandling.h"
#include "ErrorOf.h"
#include "Executor.h"
#include "FileUtils.h"
#include "LogCapture.h"
#include "MsiDb.h"
#include "MsiLib.h"
#include "MsiLogAppender.h"
#include "MsiTestSupport.h"
#include "TempDirTest.h"
#include "WinFileUtils.h"
#include "WinSysInfo.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;

using bmtest::bareErrorOf;
using bmtest::LogCapture;

namespace {

typedef msi::DeferredCA::ArgsCtnr Args;

Args parsed(const tstring& text, Args args = Args()) {
    msi::DeferredCA::parseArgs(args, text);
    return args;
}

TEST(CustomActionArgs, PairsThenAnOptionalTail) {
    EXPECT_THAT(parsed(L""), IsEmpty());
    EXPECT_THAT(parsed(L"a=1*b=2**rest of *text=x"),
                ElementsAre(Pair(L"", L"rest of *text=x"), Pair(L"a", L"1"), Pair(L"b", L"2")));
    EXPECT_THAT(parsed(L"**x"), ElementsAre(Pair(L"", L"x")));
    EXPECT_THAT(parsed(L"x=y=z*=v*x=w"), ElementsAre(Pair(L"", L"v"), Pair(L"x", L"w")));
    EXPECT_THAT(parsed(L"=v**"), ElementsAre(Pair(L"", L"")));
    EXPECT_THAT(parsed(L"a=new", {{L"a", L"old"}, {L"b", L"kept"}}),
                ElementsAre(Pair(L"a", L"new"), Pair(L"b", L"kept")));
}

TEST(CustomActionArgs, APieceWithoutEqualsSignIsRefused) {
    EXPECT_EQ("Missing expected '=' character in [] string.", bareErrorOf([] { parsed(L"a=1*"); }));
    Args args = {{L"a", L"old"}};
    EXPECT_EQ("Missing expected '=' character in [b] string.",
              bareErrorOf([&] { msi::DeferredCA::parseArgs(args, L"a=1*b"); }));
    EXPECT_THAT(args, ElementsAre(Pair(L"a", L"old"))) << "left as it was";
}

TEST(CustomActionFramework, DirectoryPathsAndFailuresOutsideAnInstallation) {
    EXPECT_EQ(L"C:\\a\\b\\", msi::normalizeDirectoryPath(L"C:/a/b//"));
    EXPECT_EQ(L"", msi::normalizeDirectoryPath(L""));

    LogCapture log;
    msi::CAFacade ca(0);
    EXPECT_EQ("Attempt to assign empty value to 'NAME' MSI property",
              bareErrorOf([&] { ca.setProperty(L"NAME", L""); }));
    EXPECT_THAT(log.events, IsEmpty()) << "refused before anything was tried";
    EXPECT_EQ("MsiGetActiveDatabase() failed. MSI error [1627](No description)",
              bareErrorOf([&] { msi::Database db(ca); }));
}

TEST(MsiLogRecords, CarryTheTimeTheSourceAndTheThreadOfOthers) {
    const msi::MsiLogAppender appender(0);
    LogEvent event;
    event.stamp();
    event.time = SYSTEMTIME{2024, 1, 1, 1, 9, 5, 3, 7};
    event.file = L"Setup.cpp";
    event.line = 42;
    event.function = L"ns::run";
    event.levelName = L"WARNING";
    event.message = L"50% of [it] %s done";
    EXPECT_EQ(L"[09:05:03.007 Setup.cpp:42 (ns::run)] WARNING: 50% of [it] %s done",
              appender.formatEvent(event));

    std::thread([&event] { event.threadId = GetCurrentThreadId(); }).join();
    EXPECT_EQ(L"[09:05:03.007 (TID: " + std::to_wstring(event.threadId) +
                  L") Setup.cpp:42 (ns::run)] WARNING: 50% of [it] %s done",
              appender.formatEvent(event));

    LogCapture log;
    {
        const msi::MsiLogScope scope(0);
        LOG_INFO("teed");
    }
    EXPECT_EQ(&log, Logger::instance().currentAppender());
    EXPECT_EQ(1u, log.events.size());
}

tstring registryValue(const TestPackage& package, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    const tstring key = tstring(L"Software\\BrumletTests\\") + package.key;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size)) {
        return L"<no value>";
    }
    return value;
}

const TestPackage caPackage = {L"msica_pkg.msi", L"{B1E7A0C1-00CA-4D6B-9A3E-5C1F0B2D00CA}",
                               L"Brumlet custom action test", L"BrumletCA"};

// Whatever the installer's action callback logs while a record is on its way
// in goes to the appender before the scope only; sent back into the
// installer, it would reach the callback again, without end.
int callbackCalls;
int WINAPI loggingCallback(LPVOID, UINT, LPCWSTR) {
    // Bounded, so that a record coming back shows as a count, not a crash.
    if (++callbackCalls <= 3) {
        LOG_WARNING("the callback saw a record");
    }
    return 0;
}

TEST(MsiLogRecords, ARecordLoggedWhileOneIsSentGoesToThePreviousAppenderOnly) {
    const msi::UiLevelGuard uiLevel(INSTALLUILEVEL_BASIC);
    typedef UINT(WINAPI * OpenPackage)(LPCWSTR, MSIHANDLE*);
    const auto openPackage = reinterpret_cast<OpenPackage>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msi.dll"), "MsiOpenPackageW")));
    ASSERT_TRUE(openPackage);
    MSIHANDLE install = 0;
    ASSERT_EQ(0u, openPackage(caPackage.path().c_str(), &install));
    callbackCalls = 0;
    {
        LogCapture log;
        const INSTALLUI_HANDLERW previous =
            msi::lib().MsiSetExternalUIW(&loggingCallback, 0xFFFFFFFF, nullptr);
        {
            const msi::MsiLogScope scope(install);
            LOG_INFO("sent to the installer");
        }
        msi::lib().MsiSetExternalUIW(previous, 0, nullptr);
        EXPECT_EQ(1, callbackCalls);
        ASSERT_EQ(2u, log.events.size());
        EXPECT_EQ(L"the callback saw a record", log.events[0].message);
        EXPECT_EQ(L"sent to the installer", log.events[1].message);
    }
    msi::lib().MsiCloseHandle(install);
}

// The fixture's custom actions run inside a real installation; what they saw
// comes back through the registry, a file and the installer's verbose log.
class CustomActionRun : public bmtest::TempDirTest {};

TEST_F(CustomActionRun, ActionsRunByTheInstallerReportIntoItsLog) {
    ensureRemoved(caPackage);
    const tstring logFile = FileUtils::joinPath(dir, L"install.log");
    const tstring deferredOut = FileUtils::joinPath(dir, L"deferred.txt");
    const DWORD exitCode = Executor(FileUtils::joinPath(SysInfo::getSystemDir(), L"msiexec.exe"))
                               .addArg(L"/i")
                               .addArg(caPackage.path())
                               .addArg(L"/qn")
                               .addArg(L"/l*v")
                               .addArg(logFile)
                               .addArg(L"BRUMLET_CA_OUT=" + deferredOut)
                               .execAndWaitForExit();
    const std::string log = readFile(logFile);
    ASSERT_EQ(0u, exitCode) << log;

    EXPECT_EQ(
        L"set=set by the action;removed=;refused=Attempt to assign empty value to "
        L"'BRUMLET_CA_EMPTY' MSI property;database=Brumlet custom action test",
        registryValue(caPackage, L"Result"));
    const std::string deferred = readFile(deferredOut);
    EXPECT_THAT(deferred, HasSubstr("\n[pair]=2\n[x]=y=z\n[]=tail * with = signs\n"
                                    "missing: Argument << 'missing' not found.\n"));
    ASSERT_GT(deferred.size(), 6u + 16u);
    EXPECT_EQ('1', deferred[6 + 16]) << "run mode 16 (scheduled) in " << deferred;

    const std::string stamp = R"(Kova \[\d\d:\d\d:\d\d\.\d\d\d )";
    const std::string immediate = R"(msica_fixture.cpp:\d+ \(\{anonymous\}::immediateAction\)\] )";
    for (const std::string& record : {
             stamp + immediate + "INFO: Immediate action in run modes [01]{16}0[01]{2}\\s",
             stamp + immediate +
                 R"(WARNING: MsiCA.cpp\(\d+\) at msi::CAImpl::setProperty\(\): )"
                 "Attempt to assign empty value to 'BRUMLET_CA_EMPTY' MSI property",
             stamp +
                 R"(\(TID: \d+\) msica_fixture.cpp:\d+ .*\] INFO: A record from another thread)",
             stamp + R"(msica_fixture.cpp:\d+ \(\{anonymous\}::deferredAction\)\] INFO: modes=)",
             stamp + R"(WinFileUtils.cpp:\d+ \(.*\)\] TRACE: Created \[C:.*\\qzt\d+\.tmp\] file)",
         }) {
        EXPECT_TRUE(std::regex_search(log, std::regex(record))) << record;
    }

    EXPECT_EQ(2, caPackage.partsOnMachine());
    ensureRemoved(caPackage);
    EXPECT_EQ(0, caPackage.partsOnMachine());
}

}  // namespace
