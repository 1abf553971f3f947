#pragma once

#include <windows.h>

#include <vector>

#include "Guid.h"
#include "Log.h"
#include "MsiUtils.h"

// A package built beside the test executables.
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

// name19Package, name20Package and the others of the table in msi.cmake.
#include "MsiTestPackages.h"

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

// The installer's current UI level, read without changing it.
INSTALLUILEVEL currentUiLevel();
