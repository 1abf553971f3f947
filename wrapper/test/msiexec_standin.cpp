// Stands in for the system's msiexec.exe in a Wine prefix of the wrapper
// tests: it records how it was started and exits with a chosen code.
//
// Environment (Windows paths):
//   BRUMLET_STANDIN_REPORT  file to write the report to; without it the
//                           program only exits
//   BRUMLET_STANDIN_EXIT    exit code, decimal or 0x-hex (default 0)
//   BRUMLET_STANDIN_HOLD_MS milliseconds to wait before exiting (default 0),
//                           so the benchmark can look at its parent meanwhile
//
// Report lines (UTF-8): "cmdline=" and the raw command line, then one "arg="
// line per argument after the program name, split as CommandLineToArgvW
// splits them. The file named by the second argument (the package, after
// "/i") is copied to the report's path with ".msi" appended, so a test can
// compare it with what was embedded; "package=missing" is written when there
// is no such file.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

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
    static wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    if (n == 0 || n >= 32768) {
        return std::wstring();
    }
    return std::wstring(buffer, n);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const std::wstring reportPath = env(L"BRUMLET_STANDIN_REPORT");
    if (!reportPath.empty()) {
        FILE* f = _wfopen(reportPath.c_str(), L"wb");
        if (!f) {
            return 200;
        }
        const wchar_t* cmdline = GetCommandLineW();
        std::fprintf(f, "cmdline=%s\n", utf8(cmdline).c_str());
        int argc = 0;
        wchar_t** argv = CommandLineToArgvW(cmdline, &argc);
        for (int i = 1; argv && i < argc; ++i) {
            std::fprintf(f, "arg=%s\n", utf8(argv[i]).c_str());
        }
        if (argv && argc > 2 && !CopyFileW(argv[2], (reportPath + L".msi").c_str(), FALSE)) {
            std::fprintf(f, "package=missing\n");
        }
        LocalFree(argv);
        std::fclose(f);
    }
    const DWORD holdMs = std::wcstoul(env(L"BRUMLET_STANDIN_HOLD_MS").c_str(), nullptr, 0);
    if (holdMs > 0) {
        Sleep(holdMs);
    }
    ExitProcess(static_cast<UINT>(std::wcstoul(env(L"BRUMLET_STANDIN_EXIT").c_str(), nullptr, 0)));
}
