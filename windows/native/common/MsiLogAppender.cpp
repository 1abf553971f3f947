#include "MsiLogAppender.h"

#include "MsiDb.h"
#include "MsiLib.h"

namespace msi {

namespace {

// The installer formats the text of a field it puts into a message once more:
// "[...]" would be read as a property reference and "{{...}}" as a group,
// and both would vanish from the log, taking the record's time and source
// and any bracketed path with them. "[\c]" prints c as it is.
tstring escapeFormatting(const tstring& text) {
    tstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        if (c == L'[' || c == L']' || c == L'{' || c == L'}') {
            escaped += L"[\\";
            escaped += c;
            escaped += L']';
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

MsiLogAppender::MsiLogAppender(MSIHANDLE install)
    : install(install), threadId(GetCurrentThreadId()) {}

tstring MsiLogAppender::formatEvent(const LogEvent& event) const {
    const tstring threadMark =
        event.threadId == threadId
            ? tstring(L" ")
            : tstrings::format(L" (TID: %u) ", static_cast<unsigned>(event.threadId));
    const SYSTEMTIME& t = event.time;
    return tstrings::format(L"[%02u:%02u:%02u.%03u%s%s:%u (%s)] %s: %s", unsigned(t.wHour),
                            unsigned(t.wMinute), unsigned(t.wSecond), unsigned(t.wMilliseconds),
                            threadMark.c_str(), event.file.c_str(), unsigned(event.line),
                            event.function.c_str(), event.levelName.c_str(), event.message.c_str());
}

namespace {

// Set while a record is on its way into the installer, on that thread: the
// installer hands it to the action callback, and whatever that logs (the
// guard's report of its failure, say) would come straight back here, again
// and again until the stack is gone. Such a record goes to the appenders
// after this one only.
thread_local bool sendingToInstaller = false;

class SendingScope {
public:
    SendingScope() { sendingToInstaller = true; }
    ~SendingScope() { sendingToInstaller = false; }
    SendingScope(const SendingScope&) = delete;
    SendingScope& operator=(const SendingScope&) = delete;
};

}  // namespace

void MsiLogAppender::append(const LogEvent& event) {
    if (sendingToInstaller) {
        return;
    }
    const SendingScope sending;
    DatabaseRecord record(1);
    // Field 0 is the template the installer prints the message with.
    record.setString(0, L"Kova [1]").setString(1, escapeFormatting(formatEvent(event)));
    // A log record that the installer refuses has nowhere else to go.
    lib().MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.getHandle());
}

MsiLogScope::MsiLogScope(MSIHANDLE install)
    : appender(install), previous(Logger::instance().currentAppender()), tee(&appender, previous) {
    Logger::instance().installAppender(&tee);
}

MsiLogScope::~MsiLogScope() {
    try {
        Logger::instance().installAppender(previous);
    }
    BM_GUARD_CATCH
}

}  // namespace msi
