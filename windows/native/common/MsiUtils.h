#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "ErrorHandling.h"
#include "Guid.h"
#include "MsiLib.h"
#include "tstrings.h"

namespace msi {

// Releases an installer handle; 0 is no handle. A failed release is only
// logged: the caller cannot do anything better than forget the handle.
void closeMSIHANDLE(MSIHANDLE h);

// A failed installer call. The message quotes the installer's own description
// of the status code.
class Error : public std::runtime_error {
public:
    Error(const tstrings::MessageBuilder& msg, UINT code);
    Error(const std::string& msg, UINT code);
    // Takes a literal as narrow UTF-8 text.
    Error(const char* msg, UINT code) : Error(std::string(msg), code) {}

    UINT getCode() const noexcept { return code; }

private:
    UINT code;
};

// Raises a located msi::Error with `msg` when the installer call's `status`
// is not ERROR_SUCCESS. The message is built only then.
#define BM_THROW_IF_MSI_ERROR(status, msg)                                           \
    do {                                                                             \
        const UINT bm_status_ = (status);                                            \
        if (bm_status_ != ERROR_SUCCESS) {                                           \
            BM_THROW(::msi::Error(::tstrings::MessageBuilder() << msg, bm_status_)); \
        }                                                                            \
    } while (0)

// A view has no record left.
class NoMoreItemsError : public Error {
public:
    explicit NoMoreItemsError(const tstrings::MessageBuilder& msg);
};

// The outcome of one installer action. Whole-product actions report a failed
// installation through this value rather than by raising.
class ActionStatus {
public:
    ActionStatus(const std::string& message, UINT code) : message(message), code(code) {}

    // 0, 1641 (reboot started) and 3010 (reboot required) are the successes.
    bool isSuccess() const noexcept;
    UINT getCode() const noexcept { return code; }
    // Empty for a success; the call and its failure words otherwise.
    const std::string& getMessage() const noexcept { return message; }

    // Raises the msi::Error of a failed status.
    [[noreturn]] void throwIt() const;

private:
    std::string message;
    UINT code;
};

// The growing-buffer reader behind every string read from the installer: it
// starts with 20 characters and doubles the buffer until the value fits.
// `label` names the reader in the error raised for any other failure. One
// overload per reader shape: product information, install property, record
// field (MsiRecordGetStringW).
tstring readString(decltype(::MsiGetProductInfoW)* reader, const char* label,
                   const tstring& productCode, const tstring& name);
tstring readString(decltype(::MsiGetPropertyW)* reader, const char* label, MSIHANDLE install,
                   const tstring& name);
tstring readString(decltype(::MsiRecordGetStringW)* reader, const char* label, MSIHANDLE record,
                   UINT field);

tstring getProductInfo(const Guid& productCode, const tstring& name);
// Empty when the value cannot be read, whatever the reason.
tstring getProductInfo(const std::nothrow_t&, const Guid& productCode, const tstring& name);

tstring getProperty(MSIHANDLE install, const tstring& name);
// Empty when the value cannot be read, whatever the reason.
tstring getProperty(const std::nothrow_t&, MSIHANDLE install, const tstring& name);

// Receives the installer's user interface messages during an action.
class ActionCallback {
public:
    virtual ~ActionCallback() = default;

    // `type` is the message kind (the top 8 bits of the installer's message
    // code, kept in place), `flags` its button, icon and default-button bits.
    virtual void onMessage(INSTALLMESSAGE type, UINT flags, const tstring& text) = 0;
};

// Settings of one installer action: its properties and extra command-line
// text, and the installer's UI level, message receiver and log file while it
// runs.
class ActionData {
public:
    // Keeps the installer settings of an ActionData in force while it lives.
    class State {
    public:
        virtual ~State() = default;
    };

    // One entry per name, written in plain case-sensitive name order.
    std::map<tstring, tstring> properties;
    tstring extraArgs;
    INSTALLUILEVEL uiLevel = INSTALLUILEVEL_NONE;
    // Not owned; null means no message receiver.
    ActionCallback* callback = nullptr;
    // Empty means no installer log.
    tstring logFile;

    void setProperty(const tstring& name, const tstring& value);

    std::unique_ptr<State> makeState() const;

    // The extra arguments, then NAME=value for every property in name order;
    // values that begin or end with a double quote or hold two in a row come
    // after all others.
    tstring getCommandLine() const;

    // A property value as the installer's command line needs it: double
    // quotes doubled, an empty value as "", and quoted when it holds a blank,
    // a tab or a double quote.
    static tstring quoteValue(const tstring& value);
};

// Sets the installer's internal UI level and restores the previous one when
// it ends.
class UiLevelGuard {
public:
    explicit UiLevelGuard(INSTALLUILEVEL level = INSTALLUILEVEL_NONE);
    ~UiLevelGuard();

    UiLevelGuard(const UiLevelGuard&) = delete;
    UiLevelGuard& operator=(const UiLevelGuard&) = delete;

private:
    INSTALLUILEVEL previous;
};

// Sends the installer's verbose log to a file (an empty path switches logging
// off) and switches logging off when it ends.
class LogFileGuard {
public:
    explicit LogFileGuard(const tstring& path);
    ~LogFileGuard();

    LogFileGuard(const LogFileGuard&) = delete;
    LogFileGuard& operator=(const LogFileGuard&) = delete;
};

// Action kinds.
struct uninstall {};
struct installLocal {};
struct install {};

namespace detail {

template <class T>
struct ActionInput {
    Guid productCode;
};

template <>
struct ActionInput<install> {
    tstring packagePath;
};

}  // namespace detail

// A whole-product installer action. Every action runs with REBOOT set to
// ReallySuppress unless the caller replaces it: a setup program must never
// restart the machine on its own.
template <class T>
class action : public ActionData {
public:
    action() { setProperty(L"REBOOT", L"ReallySuppress"); }

    template <class U = T>
    typename std::enable_if<!std::is_same<U, install>::value, action&>::type setProductCode(
        const Guid& productCode) {
        input.productCode = productCode;
        return *this;
    }

    template <class U = T>
    typename std::enable_if<std::is_same<U, install>::value, action&>::type setPackagePath(
        const tstring& packagePath) {
        input.packagePath = packagePath;
        return *this;
    }

    // Runs the action with its settings in force. An installer failure comes
    // back as its status and is logged; any error raised on the way is logged
    // and comes back as 1359 (ERROR_INTERNAL_ERROR).
    ActionStatus operator()(const std::nothrow_t&) const;

private:
    detail::ActionInput<T> input;
};

extern template class action<uninstall>;
extern template class action<installLocal>;
extern template class action<install>;

// False only when the installer does not know the product.
bool isProductInstalled(const Guid& productCode);

// Waits up to `timeoutMs` for a running installation to finish; false when
// the time ran out. True at once when no installation is running.
bool waitForInstallationCompletion(DWORD timeoutMs);

}  // namespace msi
