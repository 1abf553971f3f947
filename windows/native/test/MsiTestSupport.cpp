#include "MsiTestSupport.h"

#include "FileUtils.h"
#include "LogCapture.h"

tstring exeDir() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return FileUtils::dirname(tstring(path, n));
}

tstring TestPackage::path() const {
    return FileUtils::joinPath(exeDir(), file);
}

int TestPackage::partsOnMachine() const {
    wchar_t localAppData[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", localAppData, MAX_PATH);
    const tstring file = FileUtils::PathBuilder(tstring(localAppData, n)) << key << L"payload.txt";
    HKEY hkey = nullptr;
    const bool keyThere =
        RegOpenKeyExW(HKEY_CURRENT_USER, (tstring(L"Software\\BrumletTests\\") + key).c_str(), 0,
                      KEY_READ, &hkey) == ERROR_SUCCESS;
    if (keyThere) {
        RegCloseKey(hkey);
    }
    return (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) + keyThere;
}

tstring TestPackage::recordedValue(const wchar_t* name) const {
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, (tstring(L"Software\\BrumletTests\\") + key).c_str(), name,
                     RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return L"<no value>";
    }
    return value;
}

void ensureRemoved(const TestPackage& package) {
    const bmtest::LogCapture quiet;
    msi::action<msi::uninstall>().setProductCode(package.code())(std::nothrow);
}

namespace {

msi::ActionStatus installPackage(const TestPackage& package, const wchar_t* value) {
    ensureRemoved(package);
    msi::action<msi::install> install;
    install.setPackagePath(package.path());
    if (value) {
        install.setProperty(L"BRUMLET_VALUE", value);
    }
    return install(std::nothrow);
}

}  // namespace

InstalledProduct::InstalledProduct(const TestPackage& package, const wchar_t* value)
    : status(installPackage(package, value)), package(package) {}

INSTALLUILEVEL currentUiLevel() {
    return msi::lib().MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr);
}
