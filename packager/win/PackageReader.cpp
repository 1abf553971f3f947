#include "PackageReader.h"

#include <fstream>
#include <iterator>
#include <memory>

#include "DetailsReader.h"
#include "InputFile.h"
#include "MappedFile.h"
#include "MsiDb.h"
#include "MsiUtils.h"
#include "OutputFileImpl.h"
#include "ScopedDeleter.h"
#include "StagedFileWriter.h"
#include "ToolError.h"
#include "UniqueHandle.h"
#include "WinFileUtils.h"
#include "WinTool.h"

namespace PackageReader {

namespace {

std::string property(const msi::Database& db, const wchar_t* name) {
    return WinTool::utf8(db.getProperty(std::nothrow, name));
}

// The stream goes through a file: the library's record reads streams into
// files. A row that cannot be read counts as none; the command line says
// that the icon cannot be used.
std::vector<std::uint8_t> iconStream(const msi::Database& db, const std::string& name) {
    FileUtils::ScopedDeleter cleaner;
    try {
        msi::DatabaseRecord params(1);
        params.setString(1, WinTool::wide(name));
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
        return in.bad() ? std::vector<std::uint8_t>() : bytes;
    } catch (const std::runtime_error&) {
        return {};
    }
}

PackageFacts readPath(const std::string& path, const std::string& label) {
    std::unique_ptr<msi::Database> db;
    try {
        db.reset(new msi::Database(WinTool::wide(path)));
    } catch (const std::runtime_error& e) {
        throw ToolError(label +
                        " cannot be opened as an installer database: " + WinTool::bareMessage(e));
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

}  // namespace

PackageFacts read(const InputFile& package, const std::string& label) {
    return readPath(package.path(), label);
}

namespace {

// msi.dll opens packages by name only: the bytes go to a file of their own.
PackageFacts readBytes(const std::uint8_t* data, std::uint64_t size, const std::string& label) {
    FileUtils::ScopedDeleter cleaner;
    try {
        const tstring tmp =
            FileUtils::createTempFile(L"brm", L".msi", FileUtils::getTempDirectory());
        cleaner.addFile(tmp);
        FileUtils::StagedFileWriter copy(tmp);
        copy.write(data, static_cast<size_t>(size));
        copy.finalize();
        return readPath(WinTool::utf8(tmp), label);
    } catch (const ToolError&) {
        throw;
    } catch (const std::runtime_error& e) {
        throw ToolError("cannot copy " + label +
                        " to the temporary folder: " + WinTool::bareMessage(e));
    }
}

}  // namespace

PackageFacts read(const InputFile& file, std::uint64_t offset, std::uint64_t size,
                  const std::string& label) {
    return readBytes(file.data() + offset, size, label);
}

PackageFacts read(const OutputFile& output, const std::string& label) {
    // The library would not open a file another handle still writes.
    const tstring sibling = OutputFileAccess::sibling(output);
    const UniqueHandle file(CreateFileW(sibling.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        throw ToolError("cannot read " + label + ": " + WinTool::describe(error));
    }
    try {
        const MappedFile mapped(file.get(), sibling);
        return readBytes(mapped.data(), mapped.size(), label);
    } catch (const ToolError&) {
        throw;
    } catch (const std::runtime_error& e) {
        throw ToolError("cannot read " + label + ": " + WinTool::bareMessage(e));
    }
}

}  // namespace PackageReader
