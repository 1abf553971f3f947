#include "MsiUtils.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "Resources.h"
#include "UniqueHandle.h"
#include "WinDll.h"
#include "WinErrorHandling.h"
#include "WinSysInfo.h"

namespace msi {

namespace {

std::string makeMessage(const std::string& msg, UINT code) {
    tstrings::MessageBuilder err;
    err << "MSI error [" << code << "]";

    const tstring path = FileUtils::joinPath(SysInfo::getSystemDir(), L"msimsg.dll");
    // Loaded for this one message only, and as a data file: none of its code
    // runs in this process.
    const Dll::Handle library(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!library) {
        BM_THROW_SYSERROR("LoadLibraryExW(" << path << ") failed", LoadLibraryExW);
    }

    tstring description;
    try {
        description = StringResource(LOWORD(code), library.get()).string();
    } catch (const std::exception&) {
        description.clear();
    }
    // A code without a text inside an existing block of the string table
    // reads as an empty entry: that is as missing as a code outside any block.
    if (description.empty()) {
        description = L"No description";
    }
    err << "(" << description << ")";

    return joinMessages(msg, err.str());
}

ActionStatus handleMsiStatus(tstrings::MessageBuilder& call, UINT status) {
    const ActionStatus outcome(std::string(), status);
    if (outcome.isSuccess()) {
        call << "succeeded";
        if (status != ERROR_SUCCESS) {
            call << " [" << status << "]";
        }
        LOG_INFO(call.tstr());
        return outcome;
    }
    call << "failed [" << status << "]";
    return ActionStatus(call.str(), status);
}

const wchar_t* readerArg(const tstring& v) {
    return v.c_str();
}

MSIHANDLE readerArg(MSIHANDLE v) {
    return v;
}

UINT readerArg(UINT v) {
    return v;
}

template <class Reader, class A, class B>
tstring getProperty(Reader reader, const char* label, const A& a, const B& b) {
    // The length the installer reports is not trusted for sizing: the buffer
    // doubles until the value fits.
    std::vector<wchar_t> buffer(20, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    UINT status = reader(readerArg(a), readerArg(b), buffer.data(), &size);
    while (status == ERROR_MORE_DATA) {
        buffer.assign(buffer.size() * 2, L'\0');
        size = static_cast<DWORD>(buffer.size());
        status = reader(readerArg(a), readerArg(b), buffer.data(), &size);
    }
    BM_THROW_IF_MSI_ERROR(status, label << "(" << a << ", " << b << ") failed");
    return tstring(buffer.data(), std::min<size_t>(size, buffer.size()));
}

class CallbackTrigger {
public:
    explicit CallbackTrigger(ActionCallback* callback) {
        // Every bit of the filter set: each message kind reaches the callback,
        // including kinds newer than these headers, and the receiver decides
        // which to act on. A narrower filter would hide messages from it.
        lib().MsiSetExternalUIW(adapter, 0xFFFFFFFF, callback);
    }

    ~CallbackTrigger() {
        try {
            lib().MsiSetExternalUIW(nullptr, 0, nullptr);
        }
        BM_GUARD_CATCH
    }

    CallbackTrigger(const CallbackTrigger&) = delete;
    CallbackTrigger& operator=(const CallbackTrigger&) = delete;

private:
    static int WINAPI adapter(LPVOID context, UINT code, LPCWSTR text) {
        if (!context) {
            return 0;
        }
        const auto type = static_cast<INSTALLMESSAGE>(code & 0xFF000000);
        const UINT flags = code & 0x00FFFFFF;
        if (!text) {
            return 0;
        }
        // The installer calls in here through its own frames: nothing may
        // escape back into it.
        try {
            static_cast<ActionCallback*>(context)->onMessage(type, flags, tstring(text));
        }
        BM_GUARD_CATCH
        // 0 leaves the message to the installer's own handling.
        return 0;
    }
};

class StateImpl : public ActionData::State {
public:
    explicit StateImpl(const ActionData& data) : uiLevel(data.uiLevel), logFile(data.logFile) {
        if (data.callback) {
            callbackTrigger.reset(new CallbackTrigger(data.callback));
        }
    }

private:
    UiLevelGuard uiLevel;
    LogFileGuard logFile;
    std::unique_ptr<CallbackTrigger> callbackTrigger;
};

ActionStatus configureProduct(const Guid& productCode, INSTALLSTATE state,
                              const tstring& commandLine) {
    const tstring code = productCode.toString();
    tstrings::MessageBuilder call;
    call << "MsiConfigureProductEx(" << code << ", " << static_cast<int>(INSTALLLEVEL_MAXIMUM)
         << ", " << static_cast<int>(state) << ", " << commandLine << ") ";
    const UINT status = lib().MsiConfigureProductExW(code.c_str(), INSTALLLEVEL_MAXIMUM, state,
                                                     commandLine.c_str());
    return handleMsiStatus(call, status);
}

ActionStatus runAction(const detail::ActionInput<uninstall>& input, const tstring& commandLine) {
    return configureProduct(input.productCode, INSTALLSTATE_ABSENT, commandLine);
}

ActionStatus runAction(const detail::ActionInput<installLocal>& input, const tstring& commandLine) {
    return configureProduct(input.productCode, INSTALLSTATE_LOCAL, commandLine);
}

ActionStatus runAction(const detail::ActionInput<install>& input, const tstring& commandLine) {
    tstrings::MessageBuilder call;
    call << "MsiInstallProduct(" << input.packagePath << ", " << commandLine << ") ";
    const UINT status = lib().MsiInstallProductW(input.packagePath.c_str(), commandLine.c_str());
    return handleMsiStatus(call, status);
}

}  // namespace

void closeMSIHANDLE(MSIHANDLE h) {
    if (h == 0) {
        return;
    }
    const UINT status = lib().MsiCloseHandle(h);
    if (status != ERROR_SUCCESS) {
        LOG_WARNING("MsiCloseHandle(" << h << ") failed with error=" << status);
    }
}

Error::Error(const tstrings::MessageBuilder& msg, UINT code)
    : std::runtime_error(makeMessage(msg.str(), code)), code(code) {}

Error::Error(const std::string& msg, UINT code)
    : std::runtime_error(makeMessage(msg, code)), code(code) {}

NoMoreItemsError::NoMoreItemsError(const tstrings::MessageBuilder& msg)
    : Error(msg, ERROR_NO_MORE_ITEMS) {}

bool ActionStatus::isSuccess() const noexcept {
    return code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_INITIATED ||
           code == ERROR_SUCCESS_REBOOT_REQUIRED;
}

void ActionStatus::throwIt() const {
    BM_THROW(Error(message, code));
}

tstring readString(decltype(::MsiGetProductInfoW)* reader, const char* label,
                   const tstring& productCode, const tstring& name) {
    return getProperty(reader, label, productCode, name);
}

tstring readString(decltype(::MsiGetPropertyW)* reader, const char* label, MSIHANDLE install,
                   const tstring& name) {
    return getProperty(reader, label, install, name);
}

tstring readString(decltype(::MsiRecordGetStringW)* reader, const char* label, MSIHANDLE record,
                   UINT field) {
    return getProperty(reader, label, record, field);
}

tstring getProductInfo(const Guid& productCode, const tstring& name) {
    return getProperty(lib().MsiGetProductInfoW, "MsiGetProductInfo", productCode.toString(), name);
}

tstring getProductInfo(const std::nothrow_t&, const Guid& productCode, const tstring& name) {
    try {
        return getProductInfo(productCode, name);
    } catch (const std::exception&) {
        return tstring();
    }
}

tstring getProperty(MSIHANDLE install, const tstring& name) {
    return getProperty(lib().MsiGetPropertyW, "MsiGetProperty", install, name);
}

tstring getProperty(const std::nothrow_t&, MSIHANDLE install, const tstring& name) {
    try {
        return getProperty(install, name);
    } catch (const std::exception&) {
        return tstring();
    }
}

void ActionData::setProperty(const tstring& name, const tstring& value) {
    properties[name] = value;
}

std::unique_ptr<ActionData::State> ActionData::makeState() const {
    return std::unique_ptr<State>(new StateImpl(*this));
}

tstring ActionData::quoteValue(const tstring& value) {
    const tstring result = tstrings::replace(value, L"\"", L"\"\"");
    if (result.empty()) {
        return L"\"\"";
    }
    // A doubled quote is only read as a quote inside a quoted value: left
    // bare, it opens a quoted section that swallows the properties after it,
    // REBOOT=ReallySuppress among them.
    if (result.find_first_of(L" \t\"") != tstring::npos) {
        return L"\"" + result + L"\"";
    }
    return result;
}

tstring ActionData::getCommandLine() const {
    tstring head = tstrings::trim(extraArgs, L" \t");

    // Wine's installer finds the end of a value that begins or ends with a
    // quote, or holds two quotes in a row, only at the end of the line: any
    // property after it would become part of it. Such values go last, so
    // that REBOOT=ReallySuppress and every plain value arrive whatever they
    // hold; Windows reads the line the same in either order.
    auto endsOnlyAtLineEnd = [](const tstring& value) {
        return !value.empty() && (value.front() == L'"' || value.back() == L'"' ||
                                  value.find(L"\"\"") != tstring::npos);
    };
    std::wostringstream props;
    for (const bool last : {false, true}) {
        for (const auto& p : properties) {
            if (endsOnlyAtLineEnd(p.second) == last) {
                props << L" " << p.first << L"=" << quoteValue(p.second);
            }
        }
    }
    const tstring propertyText = tstrings::trim(props.str(), L" \t");

    if (!head.empty() && !propertyText.empty()) {
        head += L" ";
    }
    return head + propertyText;
}

UiLevelGuard::UiLevelGuard(INSTALLUILEVEL level)
    : previous(lib().MsiSetInternalUI(level, nullptr)) {}

UiLevelGuard::~UiLevelGuard() {
    try {
        lib().MsiSetInternalUI(previous, nullptr);
    }
    BM_GUARD_CATCH
}

LogFileGuard::LogFileGuard(const tstring& path) {
    if (path.empty()) {
        lib().MsiEnableLogW(0, nullptr, 0);
    } else {
        lib().MsiEnableLogW(INSTALLLOGMODE_VERBOSE, path.c_str(), 0);
    }
}

LogFileGuard::~LogFileGuard() {
    try {
        lib().MsiEnableLogW(0, nullptr, 0);
    }
    BM_GUARD_CATCH
}

template <class T>
ActionStatus action<T>::operator()(const std::nothrow_t&) const {
    try {
        // The settings stay in force until the outcome has been logged.
        const std::unique_ptr<State> state = makeState();
        const tstring commandLine = getCommandLine();
        const ActionStatus status = runAction(input, commandLine);
        if (!status.isSuccess()) {
            LOG_ERROR(tstrings::fromUtf8(status.getMessage()));
        }
        return status;
    }
    BM_GUARD_CATCH
    return ActionStatus("Unknown error", ERROR_INTERNAL_ERROR);
}

template class action<uninstall>;
template class action<installLocal>;
template class action<install>;

bool isProductInstalled(const Guid& productCode) {
    try {
        getProductInfo(productCode, L"VersionString");
    } catch (const Error& e) {
        if (e.getCode() == ERROR_UNKNOWN_PRODUCT || e.getCode() == ERROR_UNKNOWN_PROPERTY) {
            return false;
        }
    }
    return true;
}

bool waitForInstallationCompletion(DWORD timeoutMs) {
    static const wchar_t mutexName[] = L"Global\\_MSIExecute";
    // A successful wait makes this thread the owner of the installer's
    // execution mutex, which would hold off every installation until the
    // thread ends. So the right to release it is asked for first; where that
    // is refused, the plain wait still works.
    bool canRelease = true;
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutexName));
    if (!mutex) {
        canRelease = false;
        mutex = UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, mutexName));
    }
    if (!mutex) {
        return true;
    }

    const DWORD result = WaitForSingleObject(mutex.get(), timeoutMs);
    if (timeoutMs != 0) {
        LOG_INFO("finish waiting for mutex: " << result);
    }
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        if (!canRelease) {
            LOG_WARNING("The installer execution mutex stays owned until this thread ends");
        } else if (!ReleaseMutex(mutex.get())) {
            const DWORD error = GetLastError();
            LOG_WARNING("ReleaseMutex() failed with error=" << error);
        }
    }
    return result != WAIT_TIMEOUT;
}

}  // namespace msi
