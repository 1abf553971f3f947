// The setup program: one Windows Installer package and its product code travel
// inside the executable. Run plainly it hands the package to the system's
// msiexec with its arguments exactly as they were typed; run with "uninstall" it removes
// the product. Its exit code is the installer's.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Executor.h"
#include "FileUtils.h"
#include "Guid.h"
#include "Log.h"
#include "MsiUtils.h"
#include "PackageFolder.h"
#include "Resources.h"
#include "WinApp.h"
#include "WinDll.h"
#include "WinFileUtils.h"
#include "WinSysInfo.h"

namespace {

// Written once, with the command's result; a run that fails before that ends
// with -1.
int exitCode = -1;

// Library loads that happen after start-up (the message box's theme and
// resource libraries among them) would otherwise search the executable's own
// folder first. A setup program usually sits in a downloads folder that any web
// page can drop a DLL into.
void restrictLibrarySearchToSystem() {
    // Looked up rather than imported: a Windows 7 without the update that
    // added it must still be able to start the program at all.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    const Dll kernel32(tstring(L"kernel32.dll"));
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        kernel32.getFunction("SetDefaultDllDirectories", false));
    if (!setDefaultDllDirectories) {
        LOG_WARNING("SetDefaultDllDirectories() is not available");
        return;
    }
    if (!setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        // Not worth failing the installation over: the run keeps the
        // standard search order, as any older setup program has it.
        const DWORD error = GetLastError();
        LOG_WARNING(
            "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) failed with error=" << error);
    }
}

void uninstallCommand() {
    const std::vector<std::uint8_t> bytes =
        Resource(L"product_code", RT_RCDATA, SysInfo::getCurrentModuleHandle()).bytes();
    const Guid productCode(std::string(bytes.begin(), bytes.end()));

    const msi::UiLevelGuard uiLevel;
    msi::action<msi::uninstall> uninstall;
    uninstall.setProductCode(productCode);
    const msi::ActionStatus status = uninstall(std::nothrow);
    exitCode = static_cast<int>(status.getCode());
}

// The process's own command line after the program name, as it was typed.
// The name ends as the system ends it: at the closing quote when it starts
// with one, else at the first blank; the blanks after it go.
tstring argumentsAsTyped() {
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        for (++p; *p && *p != L'"'; ++p) {
        }
        if (*p) {
            ++p;
        }
    } else {
        for (; *p && *p != L' ' && *p != L'\t'; ++p) {
        }
    }
    for (; *p == L' ' || *p == L'\t'; ++p) {
    }
    return p;
}

void installCommand() {
    // Held from its creation until its removal, as is the package from the
    // moment it is complete: an elevated installation must never run a
    // package that another process put in place of ours.
    FileUtils::PackageFolder folder(FileUtils::getTempDirectory());

    const Resource msi(L"msi", RT_RCDATA, SysInfo::getCurrentModuleHandle());
    DWORD size = 0;
    const void* const data = msi.getPtr(size);
    const tstring msiPath = folder.addPackage(L"main.msi", data, size);

    Executor msiexec(SysInfo::getMsiexecPath());
    msiexec.addArg(L"/i").addArg(msiPath);
    // Passed on as typed, not split and quoted again: msiexec reads its
    // command line by rules of its own, so "setup.exe ARGS" must mean what
    // "msiexec /i package ARGS" means, words it alone understands included.
    msiexec.setRawArgs(argumentsAsTyped());

    folder.verify(L"before msiexec started");
    // The wait keeps the package in place for as long as msiexec may read it.
    const int code = static_cast<int>(msiexec.execAndWaitForExit());
    // The run still fails: what msiexec read may not have been our package.
    // Its exit code is told all the same, as the installation may have run.
    folder.verify(
        (tstrings::MessageBuilder() << "while msiexec ran; msiexec's exit code was " << code)
            .tstr());
    exitCode = code;
}

}  // namespace

void installerMain() {
    restrictLibrarySearchToSystem();

    const tstring_array args = SysInfo::getCommandArgs(SysInfo::ExcludeProgramName);
    bool uninstall = false;
    for (const tstring& arg : args) {
        if (arg == L"uninstall") {
            uninstall = true;
            break;
        }
    }
    if (uninstall) {
        uninstallCommand();
    } else {
        installCommand();
    }
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    app::wlaunch(std::nothrow, installerMain);
    return exitCode;
}
