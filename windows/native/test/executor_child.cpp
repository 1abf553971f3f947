// Child program of the executor tests. It writes what it received to the file
// named by BRUMLET_CHILD_REPORT and exits with the code in BRUMLET_CHILD_EXIT.
//
// Report lines (UTF-8): "cmdline=" and the raw command line, "argc=" and the
// count, then one "arg=" line per parsed argument (the C runtime's rules), then
// "startupFlags=", "showWindow=" and "windowlessConsole=". BRUMLET_CHILD_SLEEP
// makes it wait that many milliseconds before it exits.
#include <windows.h>

#include <cwchar>
#include <string>

#include "ChildReport.h"

using childreport::env;

int main() {
    {
        childreport::ChildReport report(L"BRUMLET_CHILD_REPORT");
        if (report.failed()) {
            return 200;
        }
        if (report.wanted()) {
            const std::vector<std::wstring> args = childreport::commandLineArgs();
            report.line("argc", args.empty() ? -1LL : static_cast<long long>(args.size()));
            for (const std::wstring& arg : args) {
                report.line("arg", arg);
            }
            STARTUPINFOW si = {};
            si.cb = sizeof(si);
            GetStartupInfoW(&si);
            report.line("startupFlags", static_cast<long long>(si.dwFlags));
            report.line("showWindow", static_cast<long long>(si.wShowWindow));
            // CREATE_NO_WINDOW gives a console program a console of its own that
            // has no window; without it the program shares its parent's console or
            // gets a visible one.
            DWORD pids[16] = {};
            const bool ownConsole = GetConsoleProcessList(pids, 16) == 1;
            report.line("windowlessConsole",
                        ownConsole && GetConsoleWindow() == nullptr ? 1LL : 0LL);
        }
    }
    Sleep(std::wcstoul(env(L"BRUMLET_CHILD_SLEEP").c_str(), nullptr, 10));
    // ExitProcess, not a return from main: a code such as 0xC0000005 must
    // reach the parent as the full 32-bit value.
    ExitProcess(static_cast<UINT>(std::wcstoul(env(L"BRUMLET_CHILD_EXIT").c_str(), nullptr, 0)));
}
