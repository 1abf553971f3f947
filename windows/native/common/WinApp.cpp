#include "WinApp.h"

#include <windows.h>

#include <cstdio>
#include <ios>
#include <memory>

#include "FileUtils.h"
#include "Log.h"
#include "WinErrorHandling.h"
#include "WinSysInfo.h"

namespace {

// Points the standard streams of a GUI program at a console for as long as it
// lives.
class Console {
public:
    Console() {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && !AllocConsole()) {
            return;
        }
        out.reset(new Channel(stdout));
        err.reset(new Channel(stderr));
    }

    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    class Channel {
    public:
        explicit Channel(FILE* stream) : reopened(nullptr), stream(stream) {
            const char* device = "CONOUT$";
            const char* mode = "w";
            if (stream == stdin) {
                device = "CONIN$";
                mode = "r";
            }
            // A failure leaves the stream unusable but harmless: writes to it
            // are dropped, which is all a missing console could offer anyway.
            freopen_s(&reopened, device, mode, stream);
            std::ios_base::sync_with_stdio(true);
        }

        virtual ~Channel() {
            try {
                if (reopened) {
                    fclose(reopened);
                }
                std::ios_base::sync_with_stdio(true);
            }
            BM_GUARD_CATCH
        }

        Channel(const Channel&) = delete;
        Channel& operator=(const Channel&) = delete;

    private:
        FILE* reopened;
        FILE* stream;
    };

private:
    // The error channel ends first.
    std::unique_ptr<Channel> out;
    std::unique_ptr<Channel> err;
};

// Sends every record to one appender only, for as long as it lives.
class OnlyAppenderInScope {
public:
    explicit OnlyAppenderInScope(LogAppender* appender)
        : previous(Logger::instance().installAppender(appender)) {}
    ~OnlyAppenderInScope() { Logger::instance().installAppender(previous); }
    OnlyAppenderInScope(const OnlyAppenderInScope&) = delete;
    OnlyAppenderInScope& operator=(const OnlyAppenderInScope&) = delete;

private:
    LogAppender* previous;
};

class LastErrorGuiLogAppender : public LogAppender {
public:
    void append(const LogEvent&) override {
        // A box that cannot be shown (no desktop, a service session) is
        // reported to the default appender only: through the logger's
        // appender of this moment the report would print the error's text on
        // standard error a second time and come back here.
        const OnlyAppenderInScope defaultOnly(app::defaultLogAppender());
        try {
            const tstring text = (tstrings::MessageBuilder() << app::lastErrorMsg()).tstr();
            const tstring caption = FileUtils::basename(SysInfo::getProcessModulePath());
            // The box has one OK button: anything else means it was never shown.
            if (MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR) != IDOK) {
                BM_LOG_SYSERROR("MessageBox(" << caption << ") failed", MessageBoxW);
            }
        }
        BM_GUARD_CATCH
    }
};

}  // namespace

namespace app {

int wlaunch(const std::nothrow_t&, LauncherFunc launcher) {
    std::unique_ptr<Console> console;
    try {
        if (isLoggingEnabled()) {
            console.reset(new Console());
        }
    }
    BM_GUARD_CATCH

    LastErrorGuiLogAppender messageBoxAppender;
    TeeLogAppender lastErrorAppenders(defaultLastErrorLogAppender(), &messageBoxAppender);
    return launch(std::nothrow, launcher, &lastErrorAppenders);
}

}  // namespace app
