#pragma once

// What a child program of the tests writes about how it was started, for the
// test to read back: "key=value" lines in UTF-8, "cmdline=" and the raw
// command line first. Plain Win32 and C runtime only, so that a child stays
// small and behaves the same whatever the project's libraries do.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace childreport {

inline std::string utf8(const std::wstring& s) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

// The value of an environment variable, or "" when it is unset.
inline std::wstring env(const wchar_t* name) {
    static wchar_t buffer[32768];  // the most a variable can hold
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    return n == 0 || n >= 32768 ? std::wstring() : std::wstring(buffer, n);
}

// This program's command line split as CommandLineToArgvW splits it.
inline std::vector<std::wstring> commandLineArgs() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv ? argv + argc : argv);
    LocalFree(argv);
    return args;
}

class ChildReport {
public:
    // Writes to the file named by the environment variable `pathVariable`;
    // without the variable there is no report.
    explicit ChildReport(const wchar_t* pathVariable) : path(env(pathVariable)) {
        file = path.empty() ? nullptr : _wfopen(path.c_str(), L"wb");
        line("cmdline", std::wstring(GetCommandLineW()));
    }
    ~ChildReport() {
        if (file) {
            std::fclose(file);
        }
    }
    ChildReport(const ChildReport&) = delete;
    ChildReport& operator=(const ChildReport&) = delete;

    bool wanted() const { return !path.empty(); }
    // A report was asked for and its file could not be made.
    bool failed() const { return wanted() && !file; }

    void line(const char* key, const std::string& value) {
        if (file) {
            std::fprintf(file, "%s=%s\n", key, value.c_str());
        }
    }
    void line(const char* key, const std::wstring& value) { line(key, utf8(value)); }
    void line(const char* key, long long value) { line(key, std::to_string(value)); }

    const std::wstring path;

private:
    FILE* file;
};

}  // namespace childreport
