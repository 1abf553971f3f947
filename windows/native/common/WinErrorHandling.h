#pragma once

#include <windows.h>

#include <stdexcept>

#include "ErrorHandling.h"
#include "tstrings.h"

// The error of a failed Windows call: the raise site's words joined with the
// label, the code and the system's description of it.
class SysError : public std::runtime_error {
public:
    SysError(const tstrings::MessageBuilder& message, const void* caller, DWORD errorCode,
             const char* label = "System error");

    static tstring systemErrorText(DWORD code, HMODULE module);
    static tstring comErrorText(HRESULT hr);
};

tstring describeMessageId(DWORD messageId, HMODULE module);

// Raises a located SysError for the Windows function `caller` that just
// failed. GetLastError is read before the message is built, so building it
// cannot disturb the code.
#define BM_THROW_SYSERROR(msg, caller)                                             \
    do {                                                                           \
        const DWORD bm_last_error_ = ::GetLastError();                             \
        BM_THROW(::SysError(::tstrings::MessageBuilder() << msg,                   \
                            reinterpret_cast<const void*>(caller), bm_last_error_, \
                            "System error"));                                      \
    } while (0)

// The same with an error code the caller already holds (a status returned
// instead of set as the last error).
#define BM_THROW_SYSERROR_CODE(msg, caller, code)                                        \
    BM_THROW(::SysError(::tstrings::MessageBuilder() << msg,                             \
                        reinterpret_cast<const void*>(caller), static_cast<DWORD>(code), \
                        "System error"))

// Logs, at ERROR and without raising, the located SysError that
// BM_THROW_SYSERROR would raise at `loc`. For failures that can only be
// reported, such as a release in a destructor.
void logSysError(const SourceLocation& loc, const tstrings::MessageBuilder& message,
                 const void* caller, DWORD errorCode) noexcept;

// Logs the failure of the Windows function `caller` that just failed, in the
// same record a raised and caught BM_THROW_SYSERROR would leave.
#define BM_LOG_SYSERROR(msg, caller)                                           \
    do {                                                                       \
        const DWORD bm_last_error_ = ::GetLastError();                         \
        ::logSysError(BM_SOURCE_LOCATION, ::tstrings::MessageBuilder() << msg, \
                      reinterpret_cast<const void*>(caller), bm_last_error_);  \
    } while (0)
