#include "MsiLib.h"

#include "WinDll.h"

namespace msi {

namespace {

Library bindLibrary() {
    // Never released: objects destroyed at process exit may still talk to the
    // installer (a guard restoring the UI level, a handle being closed), and
    // the table must not point into an unloaded library by then.
    static const Dll* const dll = new Dll(tstrings::MessageBuilder(L"msi.dll"), Dll::System());

    Library l;
    l.MsiCloseHandle = BM_DLL_BIND(*dll, MsiCloseHandle);
    l.MsiGetProductInfoW = BM_DLL_BIND(*dll, MsiGetProductInfoW);
    l.MsiGetPropertyW = BM_DLL_BIND(*dll, MsiGetPropertyW);
    l.MsiRecordGetStringW = BM_DLL_BIND(*dll, MsiRecordGetStringW);
    l.MsiSetInternalUI = BM_DLL_BIND(*dll, MsiSetInternalUI);
    l.MsiEnableLogW = BM_DLL_BIND(*dll, MsiEnableLogW);
    l.MsiSetExternalUIW = BM_DLL_BIND(*dll, MsiSetExternalUIW);
    l.MsiConfigureProductExW = BM_DLL_BIND(*dll, MsiConfigureProductExW);
    l.MsiInstallProductW = BM_DLL_BIND(*dll, MsiInstallProductW);
    l.MsiOpenDatabaseW = BM_DLL_BIND(*dll, MsiOpenDatabaseW);
    l.MsiDatabaseOpenViewW = BM_DLL_BIND(*dll, MsiDatabaseOpenViewW);
    l.MsiViewExecute = BM_DLL_BIND(*dll, MsiViewExecute);
    l.MsiViewFetch = BM_DLL_BIND(*dll, MsiViewFetch);
    l.MsiViewModify = BM_DLL_BIND(*dll, MsiViewModify);
    l.MsiViewClose = BM_DLL_BIND(*dll, MsiViewClose);
    l.MsiCreateRecord = BM_DLL_BIND(*dll, MsiCreateRecord);
    l.MsiRecordSetStringW = BM_DLL_BIND(*dll, MsiRecordSetStringW);
    l.MsiRecordSetInteger = BM_DLL_BIND(*dll, MsiRecordSetInteger);
    l.MsiRecordSetStreamW = BM_DLL_BIND(*dll, MsiRecordSetStreamW);
    l.MsiRecordGetFieldCount = BM_DLL_BIND(*dll, MsiRecordGetFieldCount);
    l.MsiRecordGetInteger = BM_DLL_BIND(*dll, MsiRecordGetInteger);
    l.MsiRecordReadStream = BM_DLL_BIND(*dll, MsiRecordReadStream);
    l.MsiSetPropertyW = BM_DLL_BIND(*dll, MsiSetPropertyW);
    l.MsiGetMode = BM_DLL_BIND(*dll, MsiGetMode);
    l.MsiDoActionW = BM_DLL_BIND(*dll, MsiDoActionW);
    l.MsiGetActiveDatabase = BM_DLL_BIND(*dll, MsiGetActiveDatabase);
    l.MsiProcessMessage = BM_DLL_BIND(*dll, MsiProcessMessage);
    return l;
}

}  // namespace

const Library& lib() {
    static const Library table = bindLibrary();
    return table;
}

}  // namespace msi
