#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

namespace msi {

// Every function of the Windows Installer library that the project calls.
//
// The table is filled at run time from msi.dll in the system directory and is
// the only way any code here reaches the installer. No executable of the
// project may import msi.dll: installers are typically started from a
// Downloads folder, and an implicit import can be satisfied by a planted copy
// of msi.dll lying next to the executable.
//
// The members carry the exported names, so a call reads as it would against
// the import library: msi::lib().MsiCloseHandle(h).
struct Library {
    decltype(::MsiCloseHandle)* MsiCloseHandle;
    decltype(::MsiGetProductInfoW)* MsiGetProductInfoW;
    decltype(::MsiGetPropertyW)* MsiGetPropertyW;
    decltype(::MsiRecordGetStringW)* MsiRecordGetStringW;
    decltype(::MsiSetInternalUI)* MsiSetInternalUI;
    decltype(::MsiEnableLogW)* MsiEnableLogW;
    decltype(::MsiSetExternalUIW)* MsiSetExternalUIW;
    decltype(::MsiConfigureProductExW)* MsiConfigureProductExW;
    decltype(::MsiInstallProductW)* MsiInstallProductW;
    decltype(::MsiOpenDatabaseW)* MsiOpenDatabaseW;
    decltype(::MsiDatabaseOpenViewW)* MsiDatabaseOpenViewW;
    decltype(::MsiViewExecute)* MsiViewExecute;
    decltype(::MsiViewFetch)* MsiViewFetch;
    decltype(::MsiViewModify)* MsiViewModify;
    decltype(::MsiViewClose)* MsiViewClose;
    decltype(::MsiCreateRecord)* MsiCreateRecord;
    decltype(::MsiRecordSetStringW)* MsiRecordSetStringW;
    decltype(::MsiRecordSetInteger)* MsiRecordSetInteger;
    decltype(::MsiRecordSetStreamW)* MsiRecordSetStreamW;
    decltype(::MsiRecordGetFieldCount)* MsiRecordGetFieldCount;
    decltype(::MsiRecordGetInteger)* MsiRecordGetInteger;
    decltype(::MsiRecordReadStream)* MsiRecordReadStream;
    decltype(::MsiSetPropertyW)* MsiSetPropertyW;
    decltype(::MsiGetMode)* MsiGetMode;
    decltype(::MsiDoActionW)* MsiDoActionW;
    decltype(::MsiGetActiveDatabase)* MsiGetActiveDatabase;
    decltype(::MsiProcessMessage)* MsiProcessMessage;
};

// The bound table. The library is loaded and every function bound on the
// first call; later calls return the same table. Raises the library loader's
// error when msi.dll cannot be loaded or one of its functions is missing (the
// error names the function); the next call then tries again.
const Library& lib();

}  // namespace msi
