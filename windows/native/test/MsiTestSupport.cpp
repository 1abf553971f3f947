#include "MsiTestSupport.h"

#include "FileUtils.h"

const TestPackage name19Package = {L"msi_pkg_name19.msi", L"{B1E7A0C1-0019-4D6B-9A3E-5C1F0B2D0019}",
                                   L"Brumlet test pkg 19", L"BrumletName19"};
const TestPackage name20Package = {L"msi_pkg_name20.msi", L"{B1E7A0C1-0020-4D6B-9A3E-5C1F0B2D0020}",
                                   L"Brumlet test pkg 020", L"BrumletName20"};
const TestPackage name100Package = {
    L"msi_pkg_name100.msi", L"{B1E7A0C1-0100-4D6B-9A3E-5C1F0B2D0100}",
    L"Brumlet test product whose name is one hundred characters long, made to exercise the "
    L"reader buffers.",
    L"BrumletName100"};
const TestPackage actionPackage = {L"msi_pkg_action.msi", L"{B1E7A0C1-00A1-4D6B-9A3E-5C1F0B2D00A1}",
                                   L"Brumlet action test", L"BrumletAction"};
const TestPackage rebootPackage = {L"msi_pkg_reboot.msi", L"{B1E7A0C1-00B1-4D6B-9A3E-5C1F0B2D00B1}",
                                   L"Brumlet reboot test", L"BrumletReboot"};

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
    NopLogAppender quiet;
    LogAppender* previous = Logger::instance().installAppender(&quiet);
    msi::action<msi::uninstall>().setProductCode(package.code())(std::nothrow);
    Logger::instance().installAppender(previous);
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

LogCapture::LogCapture() : previous(Logger::instance().installAppender(this)) {
    Logger::instance().setThreshold(LogLevel::Trace);
}

std::vector<LogCapture::Record> LogCapture::at(const tstring& level) const {
    std::vector<Record> result;
    for (const Record& r : records) {
        if (r.level == level) {
            result.push_back(r);
        }
    }
    return result;
}

INSTALLUILEVEL currentUiLevel() {
    return msi::lib().MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr);
}
