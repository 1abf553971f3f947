#include "PackageInfo.h"

#include <fstream>
#include <iterator>
#include <memory>

#include "MsiDb.h"
#include "MsiUtils.h"
#include "ScopedDeleter.h"
#include "ToolError.h"
#include "ToolFiles.h"
#include "WinFileUtils.h"

namespace {

bool isIcoFile(const std::vector<std::uint8_t>& bytes) {
    // ICONDIR: reserved 0, type 1 (icon), at least one image.
    return bytes.size() >= 6 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && bytes[3] == 0 &&
           (bytes[4] != 0 || bytes[5] != 0);
}

// The icon is decoration: a package without an Icon table, or whose entry
// cannot be read, still wraps, only without it.
std::vector<std::uint8_t> readProductIcon(const msi::Database& db) {
    const tstring name = db.getProperty(std::nothrow, L"ARPPRODUCTICON");
    if (name.empty()) {
        return {};
    }
    FileUtils::ScopedDeleter cleaner;
    try {
        msi::DatabaseRecord params(1);
        params.setString(1, name);
        msi::DatabaseView view(db, L"SELECT `Data` FROM `Icon` WHERE `Name` = ?", params);
        const msi::DatabaseRecord record = view.tryFetch();
        if (record.empty()) {
            return {};
        }
        const tstring tmp =
            FileUtils::createTempFile(L"brm", L".ico", FileUtils::getTempDirectory());
        cleaner.addFile(tmp);
        record.saveStreamToFile(1, tmp);
        std::ifstream in(tmp.c_str(), std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        return isIcoFile(bytes) ? bytes : std::vector<std::uint8_t>();
    } catch (const std::runtime_error&) {
        return {};
    }
}

// Control characters and a byte order mark shown as escapes: a product code
// pasted with a line break or a BOM looks right otherwise.
tstring visible(const tstring& text) {
    tstring out;
    for (const wchar_t c : text) {
        if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c < 0x20 || c == 0xfeff || c == 0x7f) {
            out += tstrings::format(L"\\u%04X", static_cast<unsigned>(c));
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

PackageInfo PackageInfo::read(const tstring& path) {
    PackageInfo info;
    info.size = ToolFiles::requireReadable(path, L"package");
    // The installer library opens some files that are no packages at all;
    // every package is a compound file.
    if (!ToolFiles::isCompoundFile(ToolFiles::head(path, 8))) {
        BM_TOOL_FAIL("'" << path << "' is not a Windows Installer package");
    }
    std::unique_ptr<msi::Database> db;
    try {
        db.reset(new msi::Database(path));
    } catch (const msi::Error&) {
        BM_TOOL_FAIL("'" << path << "' is not a Windows Installer package");
    }
    const tstring code = db->getProperty(std::nothrow, L"ProductCode");
    if (code.empty()) {
        BM_TOOL_FAIL("package '" << path << "' has no ProductCode property");
    }
    // The installer itself insists on the braced form; Guid alone would also
    // take bare digits.
    bool valid = code.size() == 38 && code.front() == L'{' && code.back() == L'}';
    if (valid) {
        try {
            info.productCode = Guid(code);
        } catch (const std::runtime_error&) {
            valid = false;
        }
    }
    if (!valid) {
        BM_TOOL_FAIL("package '" << path << "' has a ProductCode that is no GUID: '"
                                 << visible(code) << "'");
    }
    info.productName = db->getProperty(std::nothrow, L"ProductName");
    info.productVersion = db->getProperty(std::nothrow, L"ProductVersion");
    info.manufacturer = db->getProperty(std::nothrow, L"Manufacturer");
    info.icon = readProductIcon(*db);
    return info;
}
