// Stands in for the system's msiexec.exe in a Wine prefix of the wrapper
// tests: it records how it was started and exits with a chosen code.
//
// Environment (Windows paths):
//   BRUMLET_STANDIN_REPORT  file to write the report to; without it the
//                           program only exits
//   BRUMLET_STANDIN_EXIT    exit code, decimal or 0x-hex (default 0)
//   BRUMLET_STANDIN_ATTACK  what to try on the package before reading it:
//                           "write" (through a handle of its own), "replace"
//                           (MoveFileEx of another file over it), "delete",
//                           "swapdir" (rename its folder, put a new one in its
//                           place) or "swapparent" (the same one level up);
//                           reported as "attack=done" or "attack=refused"
//   BRUMLET_STANDIN_HOLD    milliseconds for which a process of its own keeps
//                           the package open after this one has exited
//   BRUMLET_STANDIN_WAIT_MS milliseconds to wait before exiting (default 0),
//                           so the benchmark can look at its parent meanwhile
//   BRUMLET_STANDIN_PUT     a folder to move into the package's folder, as
//                           another process of the user may while msiexec
//                           runs; reported as "put=done" or "put=refused"
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

#include "ChildReport.h"

namespace {

using childreport::env;

bool writeFile(const std::wstring& path, const char* text) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    return f && std::fputs(text, f) >= 0 && std::fclose(f) == 0;
}

std::wstring folderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

// Puts a folder holding a package of its own where `folder` was.
bool swapFolder(const std::wstring& folder, const std::wstring& package) {
    return MoveFileExW(folder.c_str(), (folder + L".old").c_str(), 0) &&
           CreateDirectoryW(folder.c_str(), nullptr) && writeFile(package, "planted");
}

bool attack(const std::wstring& how, const std::wstring& package) {
    const std::wstring folder = folderOf(package);
    if (how == L"write") {
        const HANDLE h = CreateFileW(package.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, "planted", 7, &written, nullptr);
        CloseHandle(h);
        return ok;
    }
    if (how == L"replace") {
        const std::wstring planted = folder + L"\\planted.msi";
        return writeFile(planted, "planted") &&
               MoveFileExW(planted.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    if (how == L"delete") {
        return DeleteFileW(package.c_str());
    }
    if (how == L"swapdir") {
        return swapFolder(folder, package);
    }
    if (how == L"swapparent") {
        const std::wstring parent = folderOf(folder);
        return MoveFileExW(parent.c_str(), (parent + L".old").c_str(), 0) &&
               CreateDirectoryW(parent.c_str(), nullptr) &&
               CreateDirectoryW(folder.c_str(), nullptr) && writeFile(package, "planted");
    }
    return false;
}

// The holder of BRUMLET_STANDIN_HOLD: "msiexec.exe --hold <ms> <package>".
void holdAndExit(const std::wstring& ms, const std::wstring& package) {
    const HANDLE h = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    Sleep(std::wcstoul(ms.c_str(), nullptr, 10));
    CloseHandle(h);
    ExitProcess(0);
}

void startHolder(const std::wstring& ms, const std::wstring& package) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"msiexec --hold " + ms + L" \"" + package + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        // Running before this process ends, with the package open.
        WaitForInputIdle(pi.hProcess, 0);
        Sleep(200);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const std::vector<std::wstring> args = childreport::commandLineArgs();
    if (args.size() == 4 && args[1] == L"--hold") {
        holdAndExit(args[2], args[3]);
    }
    {
        childreport::ChildReport report(L"BRUMLET_STANDIN_REPORT");
        if (report.failed()) {
            return 200;
        }
        if (report.wanted()) {
            for (size_t i = 1; i < args.size(); ++i) {
                report.line("arg", args[i]);
            }
        }
        if (report.wanted() && args.size() > 2) {
            const std::wstring& package = args[2];
            const std::wstring how = env(L"BRUMLET_STANDIN_ATTACK");
            if (!how.empty()) {
                report.line("attack", attack(how, package) ? "done" : "refused");
            }
            if (!CopyFileW(package.c_str(), (report.path + L".msi").c_str(), FALSE)) {
                report.line("package", "missing");
            }
            const std::wstring put = env(L"BRUMLET_STANDIN_PUT");
            if (!put.empty()) {
                const std::wstring to = folderOf(package) + put.substr(put.find_last_of(L'\\'));
                report.line("put", MoveFileExW(put.c_str(), to.c_str(), 0) ? "done" : "refused");
            }
            const std::wstring hold = env(L"BRUMLET_STANDIN_HOLD");
            if (!hold.empty()) {
                startHolder(hold, package);
            }
        }
    }
    const DWORD waitMs = std::wcstoul(env(L"BRUMLET_STANDIN_WAIT_MS").c_str(), nullptr, 0);
    if (waitMs > 0) {
        Sleep(waitMs);
    }
    ExitProcess(static_cast<UINT>(std::wcstoul(env(L"BRUMLET_STANDIN_EXIT").c_str(), nullptr, 0)));
}
