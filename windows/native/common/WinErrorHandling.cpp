#include "WinErrorHandling.h"

#include "Log.h"

namespace {

std::string makeMessage(const tstrings::MessageBuilder& message, const void* caller,
                        DWORD errorCode, const char* label) {
    tstrings::MessageBuilder err;
    err << (label ? label : "Some error") << " [" << static_cast<unsigned long>(errorCode) << "]";

    HMODULE module = nullptr;
    bool haveModule = true;
    if (caller) {
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                static_cast<LPCWSTR>(caller), &module)) {
            haveModule = false;
            module = nullptr;
            LOG_WARNING("GetModuleHandleEx() failed for " << caller << " address.");
        }
    }
    if (haveModule) {
        err << "(" << SysError::systemErrorText(errorCode, module) << ")";
    }
    return joinMessages(message.str(), err.str());
}

tstring formatMessage(DWORD messageId, HMODULE module) {
    DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (module) {
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
    wchar_t* buffer = nullptr;
    const DWORD n =
        FormatMessageW(flags, module, messageId, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n == 0) {
        return tstring();
    }
    for (DWORD i = 0; i < n; ++i) {
        if (buffer[i] < L' ') {
            buffer[i] = L' ';
        }
    }
    for (DWORD i = n; i > 0; --i) {
        if (buffer[i] > L' ' && buffer[i] != L'.') {
            break;
        }
        buffer[i] = L'\0';
    }
    tstring result = buffer;
    LocalFree(buffer);
    return result;
}

}  // namespace

tstring describeMessageId(DWORD messageId, HMODULE module) {
    tstring text = formatMessage(messageId, module);
    if (text.empty() && module) {
        text = formatMessage(messageId, nullptr);
    }
    if (text.empty()) {
        return L"No description available";
    }
    return text;
}

SysError::SysError(const tstrings::MessageBuilder& message, const void* caller, DWORD errorCode,
                   const char* label)
    : std::runtime_error(makeMessage(message, caller, errorCode, label)) {}

tstring SysError::systemErrorText(DWORD code, HMODULE module) {
    return (tstrings::MessageBuilder() << "system error " << static_cast<unsigned long>(code)
                                       << " (" << describeMessageId(code, module) << ")")
        .tstr();
}

tstring SysError::comErrorText(HRESULT hr) {
    DWORD code = static_cast<DWORD>(hr);
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) {
        code = HRESULT_CODE(hr);
    }
    return tstrings::format(L"COM error 0x%08X (%s)", static_cast<unsigned>(hr),
                            describeMessageId(code, nullptr).c_str());
}
