#include "MsiReader.h"

#include <memory>
#include <vector>

#include "DetailsReader.h"
#include "MsiDb.h"
#include "MsiLib.h"
#include "MsiUtils.h"
#include "ToolError.h"
#include "WinTool.h"

namespace MsiReader {

namespace {

std::string property(const msi::Database& db, const wchar_t* name) {
    return WinTool::utf8(db.getProperty(std::nothrow, name));
}

// Read straight from the record: a file for it would be left behind by a
// reader that is ended. A row that cannot be read counts as none; the
// command line says that the icon cannot be used.
std::vector<std::uint8_t> iconStream(const msi::Database& db, const std::string& name) {
    try {
        msi::DatabaseRecord params(1);
        params.setString(1, WinTool::wide(name));
        msi::DatabaseView view(db, L"SELECT `Data` FROM `Icon` WHERE `Name` = ?", params);
        const msi::DatabaseRecord record = view.tryFetch();
        if (record.empty()) {
            return {};
        }
        std::vector<std::uint8_t> bytes;
        std::vector<char> buffer(1 << 16);
        for (;;) {
            DWORD got = static_cast<DWORD>(buffer.size());
            if (msi::lib().MsiRecordReadStream(record.getHandle(), 1, buffer.data(), &got) !=
                ERROR_SUCCESS) {
                return {};
            }
            if (got == 0) {
                return bytes;
            }
            bytes.insert(bytes.end(), buffer.data(), buffer.data() + got);
        }
    } catch (const std::runtime_error&) {
        return {};
    }
}

}  // namespace

PackageFacts read(const std::string& path) {
    std::unique_ptr<msi::Database> db;
    try {
        db.reset(new msi::Database(WinTool::wide(path)));
    } catch (const std::runtime_error& e) {
        throw ToolError("cannot be opened as an installer database: " + WinTool::bareMessage(e));
    }
    PackageFacts facts;
    facts.productCode = property(*db, L"ProductCode");
    facts.productName = property(*db, L"ProductName");
    facts.productVersion = property(*db, L"ProductVersion");
    facts.manufacturer = property(*db, L"Manufacturer");
    facts.iconName = property(*db, L"ARPPRODUCTICON");
    if (!facts.iconName.empty()) {
        facts.icon = iconStream(*db, facts.iconName);
    }
    facts.details = DetailsReader::read(*db);
    return facts;
}

}  // namespace MsiReader
