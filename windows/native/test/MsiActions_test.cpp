#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "FileUtils.h"
#include "LogCapture.h"
#include "MsiTestSupport.h"
#include "MsiUtils.h"
#include "UniqueHandle.h"

using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::Not;

using bmtest::LogCapture;

namespace {

TEST(ActionCommandLine, ExtraArgumentsThenPropertiesInNameOrder) {
    msi::action<msi::uninstall> action;
    EXPECT_EQ(L"REBOOT=ReallySuppress", action.getCommandLine());

    action.setProperty(L"B", L"1");
    action.setProperty(L"A", L"2");
    action.setProperty(L"a", L"3");
    action.setProperty(L"B", L"4");
    action.extraArgs = L" \t/norestart  ";
    EXPECT_EQ(L"/norestart A=2 B=4 REBOOT=ReallySuppress a=3", action.getCommandLine());

    action.properties.clear();
    EXPECT_EQ(L"/norestart", action.getCommandLine());
    action.extraArgs.clear();
    EXPECT_EQ(L"", action.getCommandLine());

    action.setProperty(L"DIR", L"C:\\Program Files\\X");
    action.setProperty(L"EMPTY", L"");
    action.setProperty(L"Q", L"a\"b");
    action.setProperty(L"TAB", L"a\tb");
    action.setProperty(L"LEAD", L"\"a");
    EXPECT_EQ(L"DIR=\"C:\\Program Files\\X\" EMPTY=\"\" Q=\"a\"\"b\" TAB=\"a\tb\" LEAD=\"\"\"a\"",
              action.getCommandLine());
}

// Every value must reach the installer whole, and nothing that follows it on
// the command line may end up inside it.
TEST(ActionCommandLine, TheInstallerReceivesEveryValueIntact) {
    for (const wchar_t* value :
         {L"C:\\Program Files\\Brumlet X", L"", L"a\tb", L"say \"hi\" now", L"a\"b", L"plain",
          L"say \"hi\"", L"\"a", L"a\"", L"\"", L"\"\"", L"\"x\" \"y\""}) {
        const InstalledProduct product(actionPackage, value);
        ASSERT_EQ(0u, product.status.getCode()) << product.status.getMessage();
        // Wine's installer reads a value of quotes alone as empty, whatever
        // the quoting; Windows takes it as written.
        if (tstring(value).find_first_not_of(L'"') != tstring::npos) {
            EXPECT_EQ(value, actionPackage.recordedValue());
        }
        EXPECT_EQ(L"ReallySuppress", actionPackage.recordedValue(L"Reboot")) << value;
    }
}

TEST(UninstallAction, RemovesTheProductThenReportsItUnknown) {
    const tstring call = L"MsiConfigureProductEx(" + actionPackage.code().toString() +
                         L", 65535, 2, REBOOT=ReallySuppress) ";
    const InstalledProduct product(actionPackage);
    ASSERT_EQ(0u, product.status.getCode()) << product.status.getMessage();
    ASSERT_EQ(2, actionPackage.partsOnMachine());

    msi::action<msi::uninstall> uninstall;
    uninstall.setProductCode(actionPackage.code());
    {
        LogCapture log;
        const msi::ActionStatus status = uninstall(std::nothrow);
        EXPECT_EQ(0u, status.getCode());
        EXPECT_EQ("", status.getMessage());
        ASSERT_EQ(1u, log.events.size());
        EXPECT_EQ(L"INFO", log.events[0].levelName);
        EXPECT_EQ(call + L"succeeded", log.events[0].message);
    }
    EXPECT_EQ(0, actionPackage.partsOnMachine());

    LogCapture log;
    const msi::ActionStatus again = uninstall(std::nothrow);
    EXPECT_EQ(1605u, again.getCode());
    EXPECT_EQ(tstrings::toUtf8(call + L"failed [1605]"), again.getMessage());
    ASSERT_EQ(1u, log.events.size());
    EXPECT_EQ(L"ERROR", log.events[0].levelName);
    EXPECT_EQ(call + L"failed [1605]", log.events[0].message);
}

TEST(UninstallAction, ARequiredRebootCountsAsSuccess) {
    const InstalledProduct product(rebootPackage);
    ASSERT_EQ(0u, product.status.getCode()) << product.status.getMessage();

    LogCapture log;
    const msi::ActionStatus status =
        msi::action<msi::uninstall>().setProductCode(rebootPackage.code())(std::nothrow);
    EXPECT_EQ(3010u, status.getCode());
    EXPECT_TRUE(status.isSuccess());
    ASSERT_EQ(1u, log.at(L"INFO").size());
    EXPECT_THAT(log.at(L"INFO")[0].message, EndsWith(L") succeeded [3010]"));
    EXPECT_THAT(log.at(L"ERROR"), IsEmpty());
}

TEST(InstallAction, InstallsFromThePackagePathAndLogsOnlyWhileItRuns) {
    ensureRemoved(actionPackage);
    const tstring logFile = FileUtils::joinPath(exeDir(), L"msi_action_test.log");
    DeleteFileW(logFile.c_str());

    msi::action<msi::install> install;
    install.setPackagePath(actionPackage.path());
    install.logFile = logFile;
    LogCapture log;
    ASSERT_EQ(0u, install(std::nothrow).getCode());
    EXPECT_EQ(L"MsiInstallProduct(" + actionPackage.path() + L", REBOOT=ReallySuppress) succeeded",
              log.at(L"INFO").at(0).message);
    EXPECT_EQ(2, actionPackage.partsOnMachine());
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(logFile.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 0u);

    // Logging is off again: an installer call made outside any action leaves
    // no log behind.
    ASSERT_TRUE(DeleteFileW(logFile.c_str()));
    const msi::UiLevelGuard quiet;
    EXPECT_EQ(0u,
              msi::lib().MsiConfigureProductExW(actionPackage.code().toString().c_str(),
                                                INSTALLLEVEL_MAXIMUM, INSTALLSTATE_ABSENT, L""));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(logFile.c_str()));
}

TEST(UiLevelGuardTest, RestoresTheLevelItFound) {
    msi::lib().MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
    {
        const msi::UiLevelGuard outer(INSTALLUILEVEL_REDUCED);
        EXPECT_EQ(INSTALLUILEVEL_REDUCED, currentUiLevel());
        {
            const msi::UiLevelGuard inner;
            EXPECT_EQ(INSTALLUILEVEL_NONE, currentUiLevel());
        }
        EXPECT_EQ(INSTALLUILEVEL_REDUCED, currentUiLevel());
    }
    EXPECT_EQ(INSTALLUILEVEL_BASIC, currentUiLevel());
    msi::lib().MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
}

class RaisingCallback : public msi::ActionCallback {
public:
    void onMessage(INSTALLMESSAGE type, UINT flags, const tstring&) override {
        ++messages;
        actionStarts += type == INSTALLMESSAGE_ACTIONSTART;
        strayBits += (type & 0x00FFFFFF) != 0 || (flags & 0xFF000000) != 0;
        throw std::runtime_error("callback refused the message");
    }
    int messages = 0, actionStarts = 0, strayBits = 0;
};

TEST(ActionCallbackTest, GetsTheMessagesDuringTheCallAndCannotStopIt) {
    ensureRemoved(actionPackage);
    RaisingCallback callback;
    msi::action<msi::install> install;
    install.setPackagePath(actionPackage.path());
    install.callback = &callback;
    LogCapture log;
    EXPECT_EQ(0u, install(std::nothrow).getCode());
    EXPECT_EQ(2, actionPackage.partsOnMachine());

    EXPECT_GT(callback.actionStarts, 0);
    EXPECT_EQ(0, callback.strayBits);
    const auto errors = log.at(L"ERROR");
    ASSERT_EQ(static_cast<size_t>(callback.messages), errors.size());
    EXPECT_EQ(L"msi::{anonymous}::CallbackTrigger::adapter", errors[0].function);
    EXPECT_EQ(L"Exception with message 'callback refused the message' caught", errors[0].message);

    // The handler went with the action.
    EXPECT_EQ(nullptr, msi::lib().MsiSetExternalUIW(nullptr, 0, nullptr));
    const int delivered = callback.messages;
    ensureRemoved(actionPackage);
    EXPECT_EQ(delivered, callback.messages);
}

// Raises from the first record it gets, as a broken log sink would.
class FailingOnceAppender : public bmtest::LogRecorder {
public:
    void append(const LogEvent& event) override {
        if (events.empty() && !failed) {
            failed = true;
            throw std::runtime_error("log sink broke");
        }
        LogRecorder::append(event);
    }
    bool failed = false;
};

TEST(ActionGuard, AnErrorInsideTheActionBecomesInternalError) {
    ensureRemoved(actionPackage);
    msi::lib().MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
    FailingOnceAppender appender;
    LogAppender* previous = Logger::instance().installAppender(&appender);
    const msi::ActionStatus status =
        msi::action<msi::uninstall>().setProductCode(actionPackage.code())(std::nothrow);
    Logger::instance().installAppender(previous);

    EXPECT_EQ(1359u, status.getCode());
    EXPECT_EQ("Unknown error", status.getMessage());
    EXPECT_EQ(std::vector<tstring>{L"Exception with message 'log sink broke' caught"},
              appender.messages());
    // The settings were undone on the way out.
    EXPECT_EQ(INSTALLUILEVEL_BASIC, currentUiLevel());
    msi::lib().MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
}

TEST(WaitForInstallation, WaitsForTheInstallerMutexAndDoesNotKeepIt) {
    LogCapture log;
    EXPECT_TRUE(msi::waitForInstallationCompletion(0));

    // Another thread stands in for a running installation.
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute"));
    UniqueHandle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle finish(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread installation([&] {
        WaitForSingleObject(mutex.get(), INFINITE);
        SetEvent(taken.get());
        WaitForSingleObject(finish.get(), INFINITE);
        ReleaseMutex(mutex.get());
    });
    WaitForSingleObject(taken.get(), INFINITE);

    EXPECT_FALSE(msi::waitForInstallationCompletion(0));
    EXPECT_TRUE(log.events.empty());
    EXPECT_FALSE(msi::waitForInstallationCompletion(50));
    ASSERT_EQ(1u, log.events.size());
    EXPECT_EQ(L"finish waiting for mutex: 258", log.events[0].message);

    SetEvent(finish.get());
    EXPECT_TRUE(msi::waitForInstallationCompletion(10000));
    installation.join();
    EXPECT_EQ(L"finish waiting for mutex: 0", log.events.back().message);

    // The next installation gets the mutex at once.
    DWORD next = WAIT_FAILED;
    std::thread([&] {
        next = WaitForSingleObject(mutex.get(), 0);
        ReleaseMutex(mutex.get());
    }).join();
    EXPECT_EQ(WAIT_OBJECT_0, next);
}

}  // namespace
