// Runs a program and reports its exit code as Windows has it: all 32 bits,
// which a Unix shell would cut down to the lowest 8.
//
//   exit_code_probe.exe [--env NAME=VALUE]... [--tail FILE] <program> [args...]
//
// Each --env sets a variable for the child (Wine takes no TEMP or TMP from
// the Unix environment). --tail appends the content of a UTF-8 file, after
// one blank, to the child's command line as it is: a text no Unix command
// line could carry through Wine unchanged. The rest of the probe's command line is the child's
// command line, unchanged. The child shares the probe's console and standard
// handles. The probe prints "exit code <signed decimal> (0x<hex>)" on
// standard output and exits with the same code.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// One element of a raw command line: quotes group blanks, nothing is escaped.
const wchar_t* skipElement(const wchar_t* line) {
    bool quoted = false;
    for (; *line; ++line) {
        if (*line == L'"') {
            quoted = !quoted;
        } else if (!quoted && (*line == L' ' || *line == L'\t')) {
            break;
        }
    }
    return line;
}

const wchar_t* skipBlanks(const wchar_t* line) {
    while (*line == L' ' || *line == L'\t') {
        ++line;
    }
    return line;
}

std::wstring unquote(std::wstring s) {
    s.erase(std::remove(s.begin(), s.end(), L'"'), s.end());
    return s;
}

}  // namespace

int main() {
    const wchar_t* rest = skipBlanks(skipElement(GetCommandLineW()));
    while (std::wcsncmp(rest, L"--env", 5) == 0 && (rest[5] == L' ' || rest[5] == L'\t')) {
        const wchar_t* assignment = skipBlanks(rest + 5);
        rest = skipElement(assignment);
        const std::wstring text = unquote(std::wstring(assignment, rest));
        const size_t eq = text.find(L'=');
        if (eq == std::wstring::npos ||
            !SetEnvironmentVariableW(text.substr(0, eq).c_str(), text.substr(eq + 1).c_str())) {
            std::fprintf(stderr, "exit_code_probe: bad --env %ls\n", text.c_str());
            return 2;
        }
        rest = skipBlanks(rest);
    }
    std::wstring tail;
    if (std::wcsncmp(rest, L"--tail", 6) == 0 && (rest[6] == L' ' || rest[6] == L'\t')) {
        const wchar_t* file = skipBlanks(rest + 6);
        rest = skipElement(file);
        FILE* f = _wfopen(unquote(std::wstring(file, rest)).c_str(), L"rb");
        std::string bytes;
        for (int c; f && (c = std::fgetc(f)) != EOF;) {
            bytes += static_cast<char>(c);
        }
        if (f) {
            std::fclose(f);
        }
        std::wstring wide(bytes.size(), L'\0');
        wide.resize(static_cast<size_t>(
            MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0],
                                static_cast<int>(wide.size()))));
        tail = L" " + wide;
        rest = skipBlanks(rest);
    }
    wchar_t* line = _wcsdup((std::wstring(rest) + tail).c_str());
    if (!line || !*line) {
        std::fprintf(stderr, "usage: exit_code_probe [--env NAME=VALUE]... <program> [args...]\n");
        return 2;
    }

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) {
        // A missing or odd standard handle only costs the child its output.
        SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "exit_code_probe: CreateProcess failed with error %lu\n",
                     GetLastError());
        return 3;
    }
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(pi.hProcess, &code)) {
        std::fprintf(stderr, "exit_code_probe: no exit code, error %lu\n", GetLastError());
        return 4;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("exit code %ld (0x%08lX)\n", static_cast<long>(code), code);
    std::fflush(stdout);
    ExitProcess(code);
}
