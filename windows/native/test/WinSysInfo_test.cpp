#include "WinSysInfo.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "FileUtils.h"
#include "Log.h"
#include "LogCapture.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"

namespace {

tstring probePath() {
    return FileUtils::joinPath(FileUtils::dirname(SysInfo::getCurrentModulePath()),
                               L"sysinfo_probe.exe");
}

// Runs the probe with exactly `commandLine` and returns what it saw, by tag.
std::map<std::string, tstring_array> runProbe(tstring commandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE ends[2] = {};
    if (!CreatePipe(&ends[0], &ends[1], &inherit, 0)) {
        BM_THROW_SYSERROR("CreatePipe failed", CreatePipe);
    }
    UniqueHandle reader(ends[0]);
    UniqueHandle writer(ends[1]);
    // The child must hold only the write end, or the read never ends.
    if (!SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0)) {
        BM_THROW_SYSERROR("SetHandleInformation failed", SetHandleInformation);
    }

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writer.get();
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(probePath().c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &si, &pi)) {
        BM_THROW_SYSERROR("CreateProcess failed", CreateProcessW);
    }
    const UniqueHandle process(pi.hProcess);
    const UniqueHandle thread(pi.hThread);
    writer.reset();

    std::string output;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        output.append(buffer, n);
    }
    WaitForSingleObject(process.get(), INFINITE);

    std::map<std::string, tstring_array> items;
    for (const tstring& line :
         tstrings::split(tstrings::fromUtf8(output), L"\n", tstrings::SkipEmpty)) {
        items[tstrings::toUtf8(line.substr(0, 1))].push_back(line.substr(2));
    }
    return items;
}

TEST(CommandArgs, NoArgumentsLeaveOnlyTheProgramName) {
    auto items = runProbe(L"\"" + probePath() + L"\"");
    EXPECT_EQ(tstring_array{probePath()}, items["I"]);
    EXPECT_EQ(tstring_array{}, items["X"]);
    EXPECT_EQ(tstring_array{}, items["E"]);
}

TEST(CommandArgs, ElementsComeBackAsTheSystemSplitsThem) {
    const tstring args =
        LR"(plain "with blank" "in\"side" back\\slash "trail\\" odd\\\"quote "" a"b c"d)";
    auto items = runProbe(L"\"" + probePath() + L"\" " + args);
    const tstring_array expected = {L"plain",   L"with blank",   L"in\"side", LR"(back\\slash)",
                                    L"trail\\", L"odd\\\"quote", L"",         L"ab cd"};
    EXPECT_EQ(expected, items["X"]);

    tstring_array withName = {probePath()};
    withName.insert(withName.end(), expected.begin(), expected.end());
    EXPECT_EQ(withName, items["I"]);
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

TEST(DebugBreak, AsksOnlyWhenTheVariableMatches) {
    // Without a desktop the box cannot open and the failure is logged with the
    // text it would have shown; with one, the box would wait for a click.
    if (const HWND window =
            CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)) {
        DestroyWindow(window);
        GTEST_SKIP() << "a desktop is present: a message box would wait for a click";
    }

    const tstring name = L"BRUMLET_SYSINFO_TEST_BREAK";
    const auto asked = [&](const wchar_t* value) {
        SetEnvironmentVariableW(name.c_str(), value);
        bmtest::LogCapture capture;
        debugBreakIfRequested(SourceLocation{"C:\\src\\Where.cpp", "here", 7}, name, L"probe");
        SetEnvironmentVariableW(name.c_str(), nullptr);
        return capture.messages();
    };

    EXPECT_EQ(tstring_array{}, asked(nullptr));
    EXPECT_EQ(tstring_array{}, asked(L"something else"));
    EXPECT_EQ(1u, asked(L"one,probe,two").size());

    const tstring_array messages = asked(L"*");
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(0u, messages[0].find(L"MessageBoxW(Where.cpp(7) at here(): debug break. Reason: "
                                   L"environment variable BRUMLET_SYSINFO_TEST_BREAK is set.) "
                                   L"failed. No debug break. System error ["))
        << tstrings::toUtf8(messages[0]);
}

}  // namespace
