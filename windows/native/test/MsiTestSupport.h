#pragma once

#include <windows.h>

#include <vector>

#include "Guid.h"
#include "Log.h"
#include "MsiUtils.h"

// A package built beside the test executables; msi.cmake holds the same
// codes and names.
struct TestPackage {
    const wchar_t* file;
    const wchar_t* productCode;
    const wchar_t* productName;
    const wchar_t* key;

    tstring path() const;
    Guid code() const { return Guid(tstring(productCode)); }
    // How many of the two things the product installs are there: a file
    // under the user's local application data and a registry key under HKCU.
    int partsOnMachine() const;
    // The registry value recording the BRUMLET_VALUE property ("Value") or
    // the REBOOT property ("Reboot").
    tstring recordedValue(const wchar_t* name = L"Value") const;
};

extern const TestPackage name19Package, name20Package, name100Package, actionPackage, rebootPackage;

tstring exeDir();

// Removes the product, whatever an earlier run left behind, without logging.
void ensureRemoved(const TestPackage& package);

// Installs a package for one test (with BRUMLET_VALUE set when `value` is
// given) and removes the product again afterwards.
class InstalledProduct {
public:
    explicit InstalledProduct(const TestPackage& package, const wchar_t* value = nullptr);
    ~InstalledProduct() { ensureRemoved(package); }

    msi::ActionStatus status;

private:
    const TestPackage& package;
};

// Collects every record of the process-wide logger while it lives.
class LogCapture : public LogAppender {
public:
    struct Record {
        tstring level, function, message;
    };

    LogCapture();
    ~LogCapture() override { Logger::instance().installAppender(previous); }
    void append(const LogEvent& e) override {
        records.push_back({e.levelName, e.function, e.message});
    }
    std::vector<Record> at(const tstring& level) const;

    std::vector<Record> records;

private:
    LogAppender* previous;
};

// The installer's current UI level, read without changing it.
INSTALLUILEVEL currentUiLevel();
