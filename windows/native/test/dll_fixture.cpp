// A library the Dll tests can load, look into and watch being unloaded: no
// other code in the test process loads it.
#include <cwchar>
#include <exception>

#include "WinSysInfo.h"

extern "C" __declspec(dllexport) int brumletFixtureAnswer(int x) {
    return x + 42;
}

// The module path SysInfo finds for code linked into a library, copied to
// `buffer`; -1 when it fails or does not fit.
extern "C" __declspec(dllexport) int brumletFixtureModulePath(wchar_t* buffer, int size) {
    try {
        const tstring path = SysInfo::getCurrentModulePath();
        if (path.size() >= static_cast<size_t>(size)) {
            return -1;
        }
        std::wcsncpy(buffer, path.c_str(), size);
        return static_cast<int>(path.size());
    } catch (const std::exception&) {
        return -1;
    }
}
