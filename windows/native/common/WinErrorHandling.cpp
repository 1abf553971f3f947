#include "WinErrorHandling.h"

#include "Log.h"
#include "UniqueHandle.h"

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
    UniqueLocalPtr<wchar_t> owner;
    const DWORD n = FormatMessageW(flags, module, messageId, 0,
                                   reinterpret_cast<LPWSTR>(owner.put()), 0, nullptr);
    if (n == 0) {
        return tstring();
    }
    wchar_t* const buffer = owner.get();
    for (DWORD i = 0; i < n; ++i) {
        if (buffer[i] < L' ') {
            buffer[i] = L' ';
        }
    }
    // Drops the trailing line break (a space by now) and the closing period,
    // so that the text reads as part of a sentence. The walk starts on the
    // terminator FormatMessage wrote at index n and stops short of index 0:
    // the index is unsigned, and the first character always stays, so a
    // text that was found never becomes the empty "not found".
    for (DWORD i = n; i > 0; --i) {
        if (buffer[i] > L' ' && buffer[i] != L'.') {
            break;
        }
        buffer[i] = L'\0';
    }
    return buffer;
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

void logSysError(const SourceLocation& loc, const tstrings::MessageBuilder& message,
                 const void* caller, DWORD errorCode) noexcept {
    // Describing the error frees memory through an owner that reports here
    // in turn: a release failing again while one is reported is dropped
    // rather than followed down without end.
    static thread_local bool reporting = false;
    if (reporting) {
        return;
    }
    reporting = true;
    try {
        try {
            logException(loc, makeLocatedError(SysError(message, caller, errorCode), loc));
        } catch (const std::runtime_error& e) {
            logException(loc, e);
        } catch (...) {
            logUnknownException(loc);
        }
    } catch (...) {
        // The log itself failed: there is nowhere left to report to.
    }
    reporting = false;
}

tstring SysError::comErrorText(HRESULT hr) {
    DWORD code = static_cast<DWORD>(hr);
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) {
        code = HRESULT_CODE(hr);
    }
    return tstrings::format(L"COM error 0x%08X (%s)", static_cast<unsigned>(hr),
                            describeMessageId(code, nullptr).c_str());
}
