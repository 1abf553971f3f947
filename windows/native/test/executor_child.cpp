// Child program of the executor tests. It writes what it received to the file
// named by BRUMLET_CHILD_REPORT and exits with the code in BRUMLET_CHILD_EXIT.
//
// Report lines (UTF-8): "cmdline=" and the raw command line, "argc=" and the
// count, then one "arg=" line per parsed argument (the C runtime's rules), then
// "startupFlags=", "showWindow=" and "windowlessConsole=". BRUMLET_CHILD_SLEEP
// makes it wait that many milliseconds before it exits.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const wchar_t* s) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) {
        return std::string();
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::wstring env(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    if (n == 0 || n >= 32768) {
        return std::wstring();
    }
    return std::wstring(buffer, n);
}

}  // namespace

int main() {
    const std::wstring reportPath = env(L"BRUMLET_CHILD_REPORT");
    if (!reportPath.empty()) {
        FILE* f = _wfopen(reportPath.c_str(), L"wb");
        if (!f) {
            return 200;
        }
        const wchar_t* cmdline = GetCommandLineW();
        std::fprintf(f, "cmdline=%s\n", utf8(cmdline).c_str());
        int argc = 0;
        wchar_t** argv = CommandLineToArgvW(cmdline, &argc);
        std::fprintf(f, "argc=%d\n", argv ? argc : -1);
        for (int i = 0; argv && i < argc; ++i) {
            std::fprintf(f, "arg=%s\n", utf8(argv[i]).c_str());
        }
        LocalFree(argv);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        GetStartupInfoW(&si);
        std::fprintf(f, "startupFlags=%lu\n", static_cast<unsigned long>(si.dwFlags));
        std::fprintf(f, "showWindow=%u\n", static_cast<unsigned>(si.wShowWindow));
        // CREATE_NO_WINDOW gives a console program a console of its own that
        // has no window; without it the program shares its parent's console or
        // gets a visible one.
        DWORD pids[16] = {};
        const bool ownConsole = GetConsoleProcessList(pids, 16) == 1;
        std::fprintf(f, "windowlessConsole=%d\n",
                     ownConsole && GetConsoleWindow() == nullptr ? 1 : 0);
        std::fclose(f);
    }
    Sleep(std::wcstoul(env(L"BRUMLET_CHILD_SLEEP").c_str(), nullptr, 10));
    // ExitProcess, not a return from main: a code such as 0xC0000005 must
    // reach the parent as the full 32-bit value.
    ExitProcess(static_cast<UINT>(std::wcstoul(env(L"BRUMLET_CHILD_EXIT").c_str(), nullptr, 0)));
}
