// A GUI program run by winapp_test.sh: its only argument picks how the main
// body ends ("ok", "located" or "int").
#include <windows.h>

#include "ErrorHandling.h"
#include "Log.h"
#include "WinApp.h"
#include "WinSysInfo.h"

namespace {

struct LogsWhenItEnds {
    ~LogsWhenItEnds() { LOG_TRACE("cleanup ran"); }
};

void returns() {
    LOG_TRACE("body ran");
}

void raisesLocated() {
    const LogsWhenItEnds local;
    BM_THROW("located failure");
}

void raisesInteger() {
    throw 42;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const tstring_array args = SysInfo::getCommandArgs(SysInfo::ExcludeProgramName);
    const tstring mode = args.empty() ? tstring() : args.front();
    app::LauncherFunc launcher = returns;
    if (mode == L"located") {
        launcher = raisesLocated;
    } else if (mode == L"int") {
        launcher = raisesInteger;
    }
    return app::wlaunch(std::nothrow, launcher);
}
