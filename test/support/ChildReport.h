#pragma once

// The report a child program of the tests writes about how it was started,
// for the test to read back: "key=value" lines in UTF-8, starting with
// "cmdline=" and the raw command line.
//
// Plain Win32 and C runtime only, so that a child stays small and behaves the
// same whatever the project's libraries do.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace childreport {

std::string utf8(const std::wstring& s);
// The value of an environment variable, or "" when it is unset.
std::wstring env(const wchar_t* name);
// This program's command line split as CommandLineToArgvW splits it, the
// program name first.
std::vector<std::wstring> commandLineArgs();

class ChildReport {
public:
    // Opens the file named by the environment variable `pathVariable` and writes
    // the command line; without the variable there is no report.
    explicit ChildReport(const wchar_t* pathVariable);
    ~ChildReport();

    ChildReport(const ChildReport&) = delete;
    ChildReport& operator=(const ChildReport&) = delete;

    bool wanted() const { return !path_.empty(); }
    // A report was asked for and its file could not be made.
    bool failed() const { return wanted() && !file; }
    const std::wstring& path() const { return path_; }

    void line(const char* key, const std::string& value);
    void line(const char* key, const std::wstring& value) { line(key, utf8(value)); }
    void line(const char* key, long long value) { line(key, std::to_string(value)); }

private:
    std::wstring path_;
    FILE* file = nullptr;
};

}  // namespace childreport
