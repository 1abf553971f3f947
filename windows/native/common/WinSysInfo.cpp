#include "WinSysInfo.h"

#include <shellapi.h>

#include <stdexcept>
#include <vector>

#include "FileUtils.h"
#include "Log.h"
#include "UniqueHandle.h"
#include "WinErrorHandling.h"
#include "WinFileUtils.h"

namespace {

// `errorFlag` null: raise on failure. Otherwise a failure sets *errorFlag and
// yields the empty string.
tstring getEnvVariableImpl(const tstring& name, bool* errorFlag) {
    std::vector<wchar_t> buffer(10, L'\0');
    SetLastError(ERROR_SUCCESS);
    // An existing but empty variable also returns 0; only the last error tells
    // it apart from a missing one.
    const DWORD n =
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        if (errorFlag) {
            *errorFlag = true;
            return tstring();
        }
        BM_THROW_SYSERROR("GetEnvironmentVariable(" << name << ") failed. Variable not set",
                          GetEnvironmentVariableW);
    }
    if (n > buffer.size()) {
        // n is the size needed, terminator included.
        buffer.resize(n);
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (GetLastError() != ERROR_SUCCESS) {
            if (errorFlag) {
                *errorFlag = true;
                return tstring();
            }
            BM_THROW_SYSERROR("GetEnvironmentVariable(" << name << ") failed",
                              GetEnvironmentVariableW);
        }
    }
    if (errorFlag) {
        *errorFlag = false;
    }
    return tstring(buffer.data());
}

tstring getModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n;
    // A path that does not fit comes back cut and as long as the buffer; there
    // is no upper bound, as long-path locations can exceed any fixed size.
    for (;;) {
        n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) {
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    if (n == 0) {
        BM_THROW_SYSERROR("GetModuleFileName failed", GetModuleFileNameW);
    }
    return tstring(buffer.data(), n);
}

typedef UINT(WINAPI* SystemDirQuery)(LPWSTR buffer, UINT size);

tstring getSystemDirImpl(SystemDirQuery query, const char* label) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const UINT n = query(buffer.data(), static_cast<UINT>(buffer.size()));
        if (n == 0) {
            BM_THROW_SYSERROR(label << " failed", query);
        }
        if (n < buffer.size()) {
            return FileUtils::stripTrailingSeparators(buffer.data());
        }
        buffer.resize(n + 1);
    }
    BM_THROW_MSG("Unexpected reply from " << label);
}

}  // namespace

namespace SysInfo {

tstring_array getCommandArgs(CommandArgsMode mode) {
    int count = 0;
    const UniqueLocalPtr<LPWSTR> args(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!args) {
        BM_THROW_SYSERROR("CommandLineToArgvW failed", CommandLineToArgvW);
    }
    tstring_array result;
    for (int i = (mode == ExcludeProgramName ? 1 : 0); i < count; ++i) {
        result.push_back(args.get()[i]);
    }
    return result;
}

tstring getEnvVariable(const tstring& name) {
    return getEnvVariableImpl(name, nullptr);
}

tstring getEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& defValue) {
    bool failed = false;
    const tstring value = getEnvVariableImpl(name, &failed);
    return failed ? defValue : value;
}

bool isEnvVariableSet(const tstring& name) {
    wchar_t buffer[1];
    SetLastError(ERROR_SUCCESS);
    // The count does not matter: a value too long for the buffer is still set.
    GetEnvironmentVariableW(name.c_str(), buffer, 1);
    return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

void setEnvVariable(const tstring& name, const tstring& value) {
    if (!SetEnvironmentVariableW(name.c_str(), value.c_str())) {
        BM_THROW_SYSERROR("SetEnvironmentVariable(" << name << ", " << value << ") failed",
                          SetEnvironmentVariableW);
    }
}

HMODULE getCurrentModuleHandle() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&getCurrentModuleHandle), &module)) {
        BM_THROW_SYSERROR("GetModuleHandleExW failed", GetModuleHandleExW);
    }
    return module;
}

tstring getProcessModulePath() {
    return FileUtils::toAbsolutePath(getModulePath(nullptr));
}

tstring getCurrentModulePath() {
    return getModulePath(getCurrentModuleHandle());
}

tstring getSystemDir() {
    return getSystemDirImpl(GetSystemDirectoryW, "GetSystemDirectory");
}

tstring getMsiexecPath() {
    return FileUtils::PathBuilder() << getSystemDir() << L"msiexec.exe";
}

}  // namespace SysInfo

void debugBreakIfRequested(const SourceLocation& location, const tstring& name,
                           const tstring& pattern) {
    if (!SysInfo::isEnvVariableSet(name)) {
        return;
    }
    const tstring value = SysInfo::getEnvVariable(std::nothrow, name, tstring());
    if (value != L"*" && value.find(pattern) == tstring::npos) {
        return;
    }
    const std::runtime_error reason((tstrings::MessageBuilder()
                                     << "debug break. Reason: environment variable " << name
                                     << " is set.")
                                        .str());
    const tstring text = tstrings::fromUtf8(locatedMessage(reason, location));
    const tstring caption = FileUtils::basename(SysInfo::getCurrentModulePath());
    // Failure is 0 by the documentation; some implementations pass on the
    // dialog box's -1. Every button's answer is positive.
    if (MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_TASKMODAL) <= 0) {
        // No box, no pause (a session without a desktop): say so, with the
        // text the box would have shown, or the developer waits for nothing.
        const DWORD error = GetLastError();
        LOG_WARNING(std::string(SysError(tstrings::MessageBuilder() << "MessageBoxW(" << text
                                                                    << ") failed. No debug break",
                                         reinterpret_cast<const void*>(MessageBoxW), error)
                                    .what()));
    }
}
