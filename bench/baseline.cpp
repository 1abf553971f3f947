// The least a setup program has to do, for the benchmark to measure the
// wrapper against: copy the package into a new folder of the temporary
// directory, run the system's msiexec on it, wait, delete both.
//
//   baseline.exe <package.msi> [msiexec arguments...]
//
// Exits with msiexec's exit code, or with 0xBEEF... codes of its own when a
// step fails, so the benchmark can tell a broken run from a slow one.
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

enum Failure : UINT {
    BadArguments = 0xBEEF0001,
    NoTempFolder = 0xBEEF0002,
    CopyFailed = 0xBEEF0003,
    StartFailed = 0xBEEF0004,
    WaitFailed = 0xBEEF0005,
    CleanupFailed = 0xBEEF0006,
};

std::wstring quoted(const std::wstring& arg) {
    return arg.find_first_of(L" \t") == std::wstring::npos ? arg : L"\"" + arg + L"\"";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        return static_cast<int>(BadArguments);
    }

    wchar_t buffer[MAX_PATH + 1];
    const DWORD tempLength = GetTempPathW(MAX_PATH + 1, buffer);
    if (tempLength == 0 || tempLength > MAX_PATH) {
        return static_cast<int>(NoTempFolder);
    }
    const std::wstring temp(buffer, tempLength);
    std::wstring folder;
    for (DWORD n = GetTickCount();; ++n) {
        folder = temp + std::to_wstring(n) + L".tmp";
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return static_cast<int>(NoTempFolder);
        }
    }
    const std::wstring package = folder + L"\\main.msi";
    if (!CopyFileW(argv[1], package.c_str(), TRUE)) {
        RemoveDirectoryW(folder.c_str());
        return static_cast<int>(CopyFailed);
    }

    const UINT systemLength = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    const std::wstring msiexec = std::wstring(buffer, systemLength) + L"\\msiexec.exe";
    std::wstring cmdline = quoted(msiexec) + L" /i " + quoted(package);
    for (int i = 2; i < argc; ++i) {
        cmdline += L" " + quoted(argv[i]);
    }
    LocalFree(argv);

    UINT exitCode = StartFailed;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(msiexec.c_str(), &cmdline[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                       nullptr, nullptr, &startup, &process)) {
        DWORD code = WaitFailed;
        if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process.hProcess, &code)) {
            code = WaitFailed;
        }
        exitCode = code;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    if (!DeleteFileW(package.c_str()) || !RemoveDirectoryW(folder.c_str())) {
        return static_cast<int>(CleanupFailed);
    }
    return static_cast<int>(exitCode);
}
