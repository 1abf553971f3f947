#include "WinSysInfo.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "FileUtils.h"
#include "Log.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"

namespace {

// What the probe program saw, by tag: "I", "X", "M", "P", "E".
struct ProbeReport {
    DWORD exitCode = 0;
    std::map<std::string, tstring_array> items;
};

tstring probePath() {
    return FileUtils::joinPath(FileUtils::dirname(SysInfo::getCurrentModulePath()),
                               L"sysinfo_probe.exe");
}

ProbeReport runProbe(const tstring& exe, tstring commandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        BM_THROW_SYSERROR("CreatePipe failed", CreatePipe);
    }
    UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    if (!SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0)) {
        BM_THROW_SYSERROR("SetHandleInformation failed", SetHandleInformation);
    }

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writer.get();
    si.hStdError = writer.get();
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &si, &pi)) {
        BM_THROW_SYSERROR("CreateProcess(" << exe << ") failed", CreateProcessW);
    }
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    writer.reset();

    std::string output;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        output.append(buffer, n);
    }
    WaitForSingleObject(process.get(), INFINITE);

    ProbeReport report;
    GetExitCodeProcess(process.get(), &report.exitCode);
    size_t begin = 0;
    for (size_t end; (end = output.find('\n', begin)) != std::string::npos; begin = end + 1) {
        const std::string line = output.substr(begin, end - begin);
        const size_t colon = line.find(':');
        report.items[line.substr(0, colon)].push_back(tstrings::fromUtf8(line.substr(colon + 1)));
    }
    return report;
}

TEST(CommandArgs, NoArgumentsLeaveOnlyTheProgramName) {
    const ProbeReport report = runProbe(probePath(), L"\"" + probePath() + L"\"");
    ASSERT_EQ(0u, report.exitCode);
    EXPECT_EQ(tstring_array{probePath()}, report.items.at("I"));
    EXPECT_EQ(0u, report.items.count("X"));
}

TEST(CommandArgs, ElementsComeBackAsTheSystemSplitsThem) {
    const tstring args =
        LR"(plain "with blank" "in\"side" back\\slash "trail\\" odd\\\"quote "" a"b c"d)";
    const ProbeReport report = runProbe(probePath(), L"\"" + probePath() + L"\" " + args);
    ASSERT_EQ(0u, report.exitCode);
    const tstring_array expected = {L"plain",   L"with blank",   L"in\"side", LR"(back\\slash)",
                                    L"trail\\", L"odd\\\"quote", L"",         L"ab cd"};
    EXPECT_EQ(expected, report.items.at("X"));

    tstring_array withName = {probePath()};
    withName.insert(withName.end(), expected.begin(), expected.end());
    EXPECT_EQ(withName, report.items.at("I"));
}

TEST(ModulePath, ExecutableAndSystemPaths) {
    const tstring module = SysInfo::getCurrentModulePath();
    EXPECT_EQ(module, SysInfo::getProcessModulePath());
    EXPECT_TRUE(tstrings::endsWith(module, L"\\sysinfo_test.exe")) << tstrings::toUtf8(module);
    EXPECT_EQ(GetModuleHandleW(nullptr), SysInfo::getCurrentModuleHandle());

    const tstring systemDir = SysInfo::getSystemDir();
    ASSERT_FALSE(systemDir.empty());
    EXPECT_NE(L'\\', systemDir.back());
    EXPECT_EQ(systemDir + L"\\msiexec.exe", SysInfo::getMsiexecPath());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(SysInfo::getMsiexecPath().c_str()));
}

const tstring var = L"BRUMLET_SYSINFO_TEST_VAR";

std::string envError(const tstring& name) {
    try {
        SysInfo::getEnvVariable(name);
    } catch (const BmError<SysError>& e) {
        return e.what();
    }
    return "no error";
}

TEST(EnvVariable, ValuesOfAnyLengthAreReadWhole) {
    // Lengths around the first buffer of ten characters, and far beyond it.
    for (const size_t length : {1u, 9u, 10u, 11u, 32766u}) {
        tstring value(length, L'v');
        value.back() = L'\u00e9';
        SysInfo::setEnvVariable(var, value);
        EXPECT_EQ(value, SysInfo::getEnvVariable(var)) << length;
        EXPECT_EQ(value, SysInfo::getEnvVariable(std::nothrow, var, L"default")) << length;
        EXPECT_TRUE(SysInfo::isEnvVariableSet(var)) << length;
    }
}

TEST(EnvVariable, EmptyIsSetAndUnsetIsNot) {
    SysInfo::setEnvVariable(var, L"");
    EXPECT_TRUE(SysInfo::isEnvVariableSet(var));
    EXPECT_EQ(L"", SysInfo::getEnvVariable(var));
    EXPECT_EQ(L"", SysInfo::getEnvVariable(std::nothrow, var, L"default"));

    ASSERT_TRUE(SetEnvironmentVariableW(var.c_str(), nullptr));
    EXPECT_FALSE(SysInfo::isEnvVariableSet(var));
    EXPECT_EQ(L"default", SysInfo::getEnvVariable(std::nothrow, var, L"default"));
    const std::string what = envError(var);
    EXPECT_NE(std::string::npos,
              what.find("GetEnvironmentVariable(BRUMLET_SYSINFO_TEST_VAR) failed. Variable not "
                        "set. System error [203]"))
        << what;
}

TEST(EnvVariable, RefusedNameRaisesWithNameAndValue) {
    try {
        SysInfo::setEnvVariable(L"", L"value");
        FAIL() << "no error";
    } catch (const BmError<SysError>& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find(
                                         "SetEnvironmentVariable(, value) failed. System error"))
            << e.what();
    }
}

// Records the messages of the WARNING records logged while it lives.
class WarningCapture : public LogAppender {
public:
    WarningCapture() : previous(Logger::instance().installAppender(this)) {
        wasAccepted = Logger::instance().accepts(LogLevel::Warning);
        Logger::instance().setThreshold(LogLevel::Warning);
    }
    ~WarningCapture() override {
        Logger::instance().installAppender(previous);
        if (!wasAccepted) {
            Logger::instance().setThreshold(LogLevel::Error);
        }
    }
    void append(const LogEvent& event) override { messages.push_back(event.message); }

    tstring_array messages;

private:
    LogAppender* previous;
    bool wasAccepted;
};

TEST(DebugBreak, AsksOnlyWhenTheVariableMatches) {
    // Without a desktop the box cannot open and the failure is logged with the
    // text it would have shown. With one, the box would wait for a click.
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (window) {
        DestroyWindow(window);
        GTEST_SKIP() << "a desktop is present: a message box would wait for a click";
    }

    const tstring name = L"BRUMLET_SYSINFO_TEST_BREAK";
    const auto asked = [&](const tstring* value) {
        if (value) {
            SysInfo::setEnvVariable(name, *value);
        } else {
            SetEnvironmentVariableW(name.c_str(), nullptr);
        }
        WarningCapture capture;
        debugBreakIfRequested(SourceLocation{"C:\\src\\Where.cpp", "here", 7}, name, L"probe");
        return capture.messages;
    };

    EXPECT_TRUE(asked(nullptr).empty());
    const tstring other = L"something else";
    EXPECT_TRUE(asked(&other).empty());

    const tstring star = L"*";
    const tstring_array messages = asked(&star);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(0u, messages[0].find(L"MessageBoxW(Where.cpp(7) at here(): debug break. Reason: "
                                   L"environment variable BRUMLET_SYSINFO_TEST_BREAK is set.) "
                                   L"failed. No debug break. System error ["))
        << tstrings::toUtf8(messages[0]);

    const tstring containing = L"one,probe,two";
    EXPECT_EQ(1u, asked(&containing).size());
    SetEnvironmentVariableW(name.c_str(), nullptr);
}

}  // namespace
