#include "ChildReport.h"

#include <shellapi.h>

namespace childreport {

std::string utf8(const std::wstring& s) {
    if (s.empty()) {
        return std::string();
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

std::wstring env(const wchar_t* name) {
    // The largest value an environment variable can hold.
    static wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    if (n == 0 || n >= 32768) {
        return std::wstring();
    }
    return std::wstring(buffer, n);
}

std::vector<std::wstring> commandLineArgs() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args;
    for (int i = 0; argv && i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    LocalFree(argv);
    return args;
}

ChildReport::ChildReport(const wchar_t* pathVariable) : path_(env(pathVariable)) {
    if (wanted()) {
        file = _wfopen(path_.c_str(), L"wb");
        if (file) {
            line("cmdline", std::wstring(GetCommandLineW()));
        }
    }
}

ChildReport::~ChildReport() {
    if (file) {
        std::fclose(file);
    }
}

void ChildReport::line(const char* key, const std::string& value) {
    if (file) {
        std::fprintf(file, "%s=%s\n", key, value.c_str());
    }
}

}  // namespace childreport
