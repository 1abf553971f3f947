#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "FileUtils.h"
#include "MsiTestSupport.h"
#include "MsiUtils.h"
#include "UniqueHandle.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

TEST(ActionCommandLine, ExtraArgumentsThenPropertiesInNameOrder) {
    msi::action<msi::uninstall> action;
    EXPECT_EQ(L"REBOOT=ReallySuppress", action.getCommandLine());

    action.setProperty(L"B", L"1");
    action.setProperty(L"A", L"2");
    action.setProperty(L"a", L"3");
    EXPECT_EQ(L"A=2 B=1 REBOOT=ReallySuppress a=3", action.getCommandLine());

    action.setProperty(L"B", L"4");
    action.extraArgs = L" \t/norestart  ";
    EXPECT_EQ(L"/norestart A=2 B=4 REBOOT=ReallySuppress a=3", action.getCommandLine());

    action.properties.clear();
    EXPECT_EQ(L"/norestart", action.getCommandLine());
    action.extraArgs.clear();
    EXPECT_EQ(L"", action.getCommandLine());
}

TEST(ActionCommandLine, ValuesAreQuotedOnlyWhereTheInstallerNeedsIt) {
    msi::action<msi::install> action;
    action.properties.clear();
    action.setProperty(L"DIR", L"C:\\Program Files\\X");
    action.setProperty(L"EMPTY", L"");
    action.setProperty(L"QUOTE", L"a\"b");
    action.setProperty(L"TAB", L"a\tb");
    action.setProperty(L"XBOTH", L"say \"hi\"");
    EXPECT_EQ(
        L"DIR=\"C:\\Program Files\\X\" EMPTY=\"\" QUOTE=\"a\"\"b\" TAB=\"a\tb\" "
        L"XBOTH=\"say \"\"hi\"\"\"",
        action.getCommandLine());
}

// The installer must get every value whole, and nothing that follows it in
// the command line may end up inside it.
TEST(ActionCommandLine, TheInstallerReceivesEveryValueIntact) {
    for (const tstring& value :
         {tstring(L"C:\\Program Files\\Brumlet X"), tstring(L""), tstring(L"a\tb"),
          tstring(L"say \"hi\" now"), tstring(L"a\"b"), tstring(L"plain")}) {
        const InstalledProduct product(actionPackage, value);
        ASSERT_EQ(0u, product.status().getCode()) << product.status().getMessage();
        EXPECT_EQ(value, actionPackage.recordedValue());
    }
}

TEST(UninstallAction, RemovesTheProductThenReportsItUnknown) {
    const Guid code = actionPackage.code();
    const tstring call =
        L"MsiConfigureProductEx(" + code.toString() + L", 65535, 2, REBOOT=ReallySuppress) ";
    const InstalledProduct product(actionPackage);
    ASSERT_EQ(0u, product.status().getCode()) << product.status().getMessage();
    ASSERT_TRUE(actionPackage.fileExists());
    ASSERT_TRUE(actionPackage.registryKeyExists());

    msi::action<msi::uninstall> uninstall;
    uninstall.setProductCode(code);
    {
        LogCapture log;
        const msi::ActionStatus status = uninstall(std::nothrow);
        EXPECT_EQ(0u, status.getCode());
        EXPECT_TRUE(status.isSuccess());
        EXPECT_EQ("", status.getMessage());
        ASSERT_EQ(1u, log.at(L"INFO").size());
        EXPECT_EQ(call + L"succeeded", log.at(L"INFO")[0].message);
        EXPECT_EQ(L"msi::{anonymous}::handleMsiStatus", log.at(L"INFO")[0].function);
        EXPECT_THAT(log.at(L"ERROR"), IsEmpty());
    }
    EXPECT_FALSE(actionPackage.fileExists());
    EXPECT_FALSE(actionPackage.registryKeyExists());
    EXPECT_FALSE(msi::isProductInstalled(code));

    LogCapture log;
    const msi::ActionStatus again = uninstall(std::nothrow);
    EXPECT_EQ(static_cast<UINT>(ERROR_UNKNOWN_PRODUCT), again.getCode());
    EXPECT_FALSE(again.isSuccess());
    EXPECT_EQ(tstrings::toUtf8(call + L"failed [1605]"), again.getMessage());
    EXPECT_THAT(log.at(L"INFO"), IsEmpty());
    ASSERT_EQ(1u, log.at(L"ERROR").size());
    EXPECT_EQ(call + L"failed [1605]", log.at(L"ERROR")[0].message);
}

TEST(UninstallAction, ARequiredRebootCountsAsSuccess) {
    const InstalledProduct product(rebootPackage);
    ASSERT_EQ(0u, product.status().getCode()) << product.status().getMessage();

    LogCapture log;
    const msi::ActionStatus status =
        msi::action<msi::uninstall>().setProductCode(rebootPackage.code())(std::nothrow);
    EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS_REBOOT_REQUIRED), status.getCode());
    EXPECT_TRUE(status.isSuccess());
    EXPECT_EQ("", status.getMessage());
    ASSERT_EQ(1u, log.at(L"INFO").size());
    EXPECT_THAT(log.at(L"INFO")[0].message, EndsWith(L") succeeded [3010]"));
    EXPECT_THAT(log.at(L"ERROR"), IsEmpty());
    EXPECT_FALSE(msi::isProductInstalled(rebootPackage.code()));
}

ULONGLONG fileSize(const tstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

TEST(InstallAction, InstallsFromThePackagePathAndLogsOnlyWhileItRuns) {
    ensureRemoved(actionPackage);
    const tstring logFile = FileUtils::joinPath(exeDir(), L"msi_action_test.log");
    DeleteFileW(logFile.c_str());

    msi::action<msi::install> install;
    install.setPackagePath(actionPackage.path());
    install.logFile = logFile;
    LogCapture log;
    const msi::ActionStatus status = install(std::nothrow);
    ASSERT_EQ(0u, status.getCode()) << status.getMessage();
    ASSERT_EQ(1u, log.at(L"INFO").size());
    EXPECT_EQ(L"MsiInstallProduct(" + actionPackage.path() + L", REBOOT=ReallySuppress) succeeded",
              log.at(L"INFO")[0].message);
    EXPECT_TRUE(actionPackage.fileExists());
    EXPECT_TRUE(msi::isProductInstalled(actionPackage.code()));
    EXPECT_GT(fileSize(logFile), 0u);

    // Logging is off again: an installer call made without any settings of
    // ours leaves no log behind.
    ASSERT_TRUE(DeleteFileW(logFile.c_str()));
    const tstring code = actionPackage.code().toString();
    const msi::UiLevelGuard quiet;
    EXPECT_EQ(0u, msi::lib().MsiConfigureProductExW(code.c_str(), INSTALLLEVEL_MAXIMUM,
                                                    INSTALLSTATE_ABSENT, L""));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(logFile.c_str()));
    EXPECT_FALSE(actionPackage.fileExists());
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

        // An action restores the level too, failed or not.
        msi::action<msi::uninstall> action;
        action.setProductCode(actionPackage.code());
        action.uiLevel = INSTALLUILEVEL_NONE;
        ensureRemoved(actionPackage);
        EXPECT_EQ(1605u, action(std::nothrow).getCode());
        EXPECT_EQ(INSTALLUILEVEL_REDUCED, currentUiLevel());
    }
    EXPECT_EQ(INSTALLUILEVEL_BASIC, currentUiLevel());
    msi::lib().MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
}

class RecordingCallback : public msi::ActionCallback {
public:
    explicit RecordingCallback(bool raise = false) : raise(raise) {}

    void onMessage(INSTALLMESSAGE type, UINT flags, const tstring& text) override {
        messages.push_back({type, flags, text});
        if (raise) {
            throw std::runtime_error("callback refused the message");
        }
    }

    struct Message {
        INSTALLMESSAGE type;
        UINT flags;
        tstring text;
    };
    std::vector<Message> messages;

private:
    bool raise;
};

// Whether some handler is still installed; leaves none behind.
bool externalUiHandlerSet() {
    return msi::lib().MsiSetExternalUIW(nullptr, 0, nullptr) != nullptr;
}

TEST(ActionCallbackTest, ReceivesTheInstallerMessagesDuringTheCall) {
    ensureRemoved(actionPackage);
    RecordingCallback callback;
    msi::action<msi::install> install;
    install.setPackagePath(actionPackage.path());
    install.callback = &callback;
    const msi::ActionStatus status = install(std::nothrow);
    ASSERT_EQ(0u, status.getCode()) << status.getMessage();
    EXPECT_FALSE(externalUiHandlerSet());

    ASSERT_THAT(callback.messages, Not(IsEmpty()));
    bool sawActionStart = false;
    for (const auto& m : callback.messages) {
        EXPECT_EQ(0u, static_cast<UINT>(m.type) & 0x00FFFFFFu);
        EXPECT_EQ(0u, m.flags & 0xFF000000u);
        sawActionStart = sawActionStart || m.type == INSTALLMESSAGE_ACTIONSTART;
    }
    EXPECT_TRUE(sawActionStart);

    // Nothing is delivered once the action has returned.
    const size_t delivered = callback.messages.size();
    ensureRemoved(actionPackage);
    EXPECT_EQ(delivered, callback.messages.size());
}

TEST(ActionCallbackTest, ARaisingCallbackIsLoggedAndTheInstallationGoesOn) {
    ensureRemoved(actionPackage);
    RecordingCallback callback(true);
    msi::action<msi::install> install;
    install.setPackagePath(actionPackage.path());
    install.callback = &callback;
    LogCapture log;
    const msi::ActionStatus status = install(std::nothrow);
    EXPECT_EQ(0u, status.getCode()) << status.getMessage();
    EXPECT_TRUE(actionPackage.fileExists());

    const auto errors = log.at(L"ERROR");
    ASSERT_EQ(callback.messages.size(), errors.size());
    ASSERT_THAT(errors, Not(IsEmpty()));
    EXPECT_EQ(L"msi::{anonymous}::CallbackTrigger::adapter", errors[0].function);
    EXPECT_EQ(L"Exception with message 'callback refused the message' caught", errors[0].message);
    ensureRemoved(actionPackage);
}

// Raises from the first record it gets, as a broken log sink would.
class FailingOnceAppender : public LogAppender {
public:
    void append(const LogEvent& event) override {
        if (!failed) {
            failed = true;
            throw std::runtime_error("log sink broke");
        }
        records.push_back(event.message);
    }
    bool failed = false;
    std::vector<tstring> records;
};

TEST(ActionGuard, AnErrorInsideTheActionBecomesInternalError) {
    ensureRemoved(actionPackage);
    msi::lib().MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
    FailingOnceAppender appender;
    Logger::instance().setThreshold(LogLevel::Trace);
    LogAppender* previous = Logger::instance().installAppender(&appender);
    const msi::ActionStatus status =
        msi::action<msi::uninstall>().setProductCode(actionPackage.code())(std::nothrow);
    Logger::instance().installAppender(previous);

    EXPECT_EQ(static_cast<UINT>(ERROR_INTERNAL_ERROR), status.getCode());
    EXPECT_EQ("Unknown error", status.getMessage());
    EXPECT_EQ(std::vector<tstring>{L"Exception with message 'log sink broke' caught"},
              appender.records);
    // The settings were undone on the way out.
    EXPECT_EQ(INSTALLUILEVEL_BASIC, currentUiLevel());
    msi::lib().MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
}

TEST(WaitForInstallation, WaitsForTheInstallerMutexAndDoesNotKeepIt) {
    LogCapture log;
    EXPECT_TRUE(msi::waitForInstallationCompletion(0));
    EXPECT_TRUE(log.records.empty());

    // Stands in for a running installation.
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute"));
    ASSERT_TRUE(mutex);
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread installation([&] {
        WaitForSingleObject(mutex.get(), INFINITE);
        SetEvent(taken);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(mutex.get());
    });
    WaitForSingleObject(taken, INFINITE);

    EXPECT_FALSE(msi::waitForInstallationCompletion(0));
    EXPECT_TRUE(log.records.empty());
    EXPECT_FALSE(msi::waitForInstallationCompletion(50));
    ASSERT_EQ(1u, log.records.size());
    EXPECT_EQ(L"finish waiting for mutex: 258", log.records[0].message);
    EXPECT_EQ(L"msi::waitForInstallationCompletion", log.records[0].function);

    SetEvent(release);
    EXPECT_TRUE(msi::waitForInstallationCompletion(10000));
    installation.join();
    EXPECT_EQ(L"finish waiting for mutex: 0", log.records.back().message);

    // The next installation can take the mutex at once.
    DWORD next = WAIT_FAILED;
    std::thread nextInstallation([&] {
        next = WaitForSingleObject(mutex.get(), 0);
        if (next == WAIT_OBJECT_0) {
            ReleaseMutex(mutex.get());
        }
    });
    nextInstallation.join();
    EXPECT_EQ(WAIT_OBJECT_0, next);
    CloseHandle(taken);
    CloseHandle(release);
}

}  // namespace
