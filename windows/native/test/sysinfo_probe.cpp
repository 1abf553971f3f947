// Reports what SysInfo sees from inside a process the tests start with a
// command line, an environment and a location of their choosing. One line per
// item, UTF-8: "I:" and "X:" for each argument with and without the program
// name, "M:" and "P:" for the module paths, "E:" for an error.
#include <windows.h>

#include <string>

#include "ErrorHandling.h"
#include "WinSysInfo.h"

namespace {

void emit(const char* tag, const tstring& value) {
    const std::string line = tag + tstrings::toUtf8(value) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
}

}  // namespace

int main() {
    try {
        debugBreakIfRequested(BM_SOURCE_LOCATION, L"BRUMLET_PROBE_BREAK", L"probe");
        for (const tstring& arg : SysInfo::getCommandArgs(SysInfo::IncludeProgramName)) {
            emit("I:", arg);
        }
        for (const tstring& arg : SysInfo::getCommandArgs(SysInfo::ExcludeProgramName)) {
            emit("X:", arg);
        }
        emit("M:", SysInfo::getCurrentModulePath());
        emit("P:", SysInfo::getProcessModulePath());
    } catch (const std::exception& e) {
        emit("E:", tstrings::fromUtf8(e.what()));
        return 1;
    }
    return 0;
}
