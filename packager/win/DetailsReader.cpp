#include "DetailsReader.h"

#include <cstdlib>
#include <functional>

#include "WinDll.h"
#include "WinTool.h"

namespace DetailsReader {

namespace {

// Summary Information property ids and the variant types they hold.
const UINT templateId = 7;
const UINT pageCountId = 14;
const UINT wordCountId = 15;
const UINT stringType = 30;  // VT_LPSTR
const UINT numberType = 3;   // VT_I4

const std::int64_t component64Bit = 0x100;

// Read as text: a null field is no number but no failure either, and reads
// as 0, as the installer reads it.
std::int64_t number(const msi::DatabaseRecord& record, UINT field) {
    return std::wcstoll(record.getString(field).c_str(), nullptr, 10);
}

// Every row of a query; nothing when the installer refuses it (a package
// without the table).
void select(const msi::Database& db, const wchar_t* sql,
            const std::function<void(const msi::DatabaseRecord&)>& row) {
    try {
        msi::DatabaseView view(db, sql);
        for (msi::DatabaseRecord record = view.tryFetch(); !record.empty();
             record = view.tryFetch()) {
            row(record);
        }
    } catch (const std::runtime_error&) {
    }
}

// The summary functions are not in the shared table of installer functions;
// they are bound here, from the same system library.
struct SummaryFunctions {
    decltype(::MsiGetSummaryInformationW)* open;
    decltype(::MsiSummaryInfoGetPropertyW)* get;
};

const SummaryFunctions& summaryFunctions() {
    static const Dll* const dll = new Dll(tstrings::MessageBuilder(L"msi.dll"), Dll::System());
    static const SummaryFunctions functions = {BM_DLL_BIND(*dll, MsiGetSummaryInformationW),
                                               BM_DLL_BIND(*dll, MsiSummaryInfoGetPropertyW)};
    return functions;
}

void readSummary(const msi::Database& db, PackageDetails& details) {
    const SummaryFunctions& f = summaryFunctions();
    UniqueMsiHandle info;
    if (f.open(db.getHandle(), nullptr, 0, info.put()) != ERROR_SUCCESS) {
        return;
    }
    for (const UINT id : {pageCountId, wordCountId}) {
        UINT type = 0;
        INT value = 0;
        FILETIME time = {};
        DWORD length = 0;
        if (f.get(info.get(), id, &type, &value, &time, nullptr, &length) == ERROR_SUCCESS &&
            type == numberType) {
            (id == pageCountId ? details.pageCount : details.wordCount) = value;
        }
    }
    std::vector<wchar_t> text(64);
    for (int attempt = 0; attempt < 2; ++attempt) {
        UINT type = 0;
        INT value = 0;
        FILETIME time = {};
        DWORD length = static_cast<DWORD>(text.size());
        const UINT status =
            f.get(info.get(), templateId, &type, &value, &time, text.data(), &length);
        if (status == ERROR_MORE_DATA && length < 65536) {
            text.resize(length + 1);
            continue;
        }
        if (status == ERROR_SUCCESS && type == stringType) {
            details.summaryTemplate = WinTool::utf8(tstring(text.data(), length));
        }
        return;
    }
}

}  // namespace

PackageDetails read(const msi::Database& db) {
    PackageDetails details;
    details.upgradeCode = WinTool::utf8(db.getProperty(std::nothrow, L"UpgradeCode"));
    details.allUsers = WinTool::utf8(db.getProperty(std::nothrow, L"ALLUSERS"));
    details.installPerUser = WinTool::utf8(db.getProperty(std::nothrow, L"MSIINSTALLPERUSER"));
    select(db, L"SELECT `DiskId`, `Cabinet`, `LastSequence` FROM `Media` ORDER BY `DiskId`",
           [&](const msi::DatabaseRecord& record) {
               PackageDetails::Media media;
               media.diskId = number(record, 1);
               media.cabinet = WinTool::utf8(record.getString(2));
               media.lastSequence = number(record, 3);
               details.media.push_back(media);
           });
    select(db, L"SELECT `FileName`, `Attributes`, `Sequence` FROM `File` ORDER BY `Sequence`",
           [&](const msi::DatabaseRecord& record) {
               PackageDetails::File file;
               file.name = WinTool::utf8(record.getString(1));
               file.attributes = number(record, 2);
               file.sequence = number(record, 3);
               details.files.push_back(file);
           });
    select(db, L"SELECT `Attributes` FROM `Component`", [&](const msi::DatabaseRecord& record) {
        if (number(record, 1) & component64Bit) {
            ++details.components64Bit;
        }
    });
    try {
        readSummary(db, details);
    } catch (const std::runtime_error&) {
        // Without the summary the checks that need it have nothing to refuse.
    }
    return details;
}

}  // namespace DetailsReader
