#pragma once

#include <windows.h>

#include <vector>

#include "Guid.h"
#include "Log.h"
#include "MsiUtils.h"
#include "tstrings.h"

// Test packages built beside the test executables (see msi.cmake, which holds
// the same codes and names).
struct TestPackage {
    const wchar_t* file;
    const wchar_t* productCode;
    const wchar_t* productName;
    const wchar_t* key;

    tstring path() const;
    Guid code() const { return Guid(tstring(productCode)); }
    // What the package installs: a file under the user's local application
    // data and a registry key under HKCU.
    tstring installedFile() const;
    tstring registryKey() const;
    bool fileExists() const;
    bool registryKeyExists() const;
    // The registry value recording the BRUMLET_VALUE property.
    tstring recordedValue() const;
};

extern const TestPackage name19Package;
extern const TestPackage name20Package;
extern const TestPackage name100Package;
extern const TestPackage actionPackage;
extern const TestPackage rebootPackage;

tstring exeDir();

// Installs a package for one test and removes the product again afterwards,
// so that every test starts and ends with the product absent.
class InstalledProduct {
public:
    explicit InstalledProduct(const TestPackage& package, const tstring& property = tstring());
    ~InstalledProduct();

    const msi::ActionStatus& status() const { return installStatus; }

private:
    const TestPackage& package;
    msi::ActionStatus installStatus;
};

// Removes a product, whatever state an earlier failed run left it in.
void ensureRemoved(const TestPackage& package);

// Collects every record of the process-wide logger while it lives.
class LogCapture : public LogAppender {
public:
    struct Record {
        tstring level;
        tstring function;
        tstring message;
    };

    LogCapture();
    ~LogCapture() override;

    void append(const LogEvent& event) override;

    std::vector<Record> at(const tstring& level) const;

    std::vector<Record> records;

private:
    LogAppender* previous;
};

// The installer's current UI level, read without changing it.
INSTALLUILEVEL currentUiLevel();
