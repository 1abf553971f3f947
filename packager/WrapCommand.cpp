#include "WrapCommand.h"

#include <fstream>
#include <iterator>
#include <memory>

#include "ErrorHandling.h"
#include "IconGroup.h"
#include "MappedFile.h"
#include "PackageInfo.h"
#include "PeImage.h"
#include "ResourceImage.h"
#include "ScopedDeleter.h"
#include "ToolError.h"
#include "ToolFiles.h"
#include "VersionResource.h"
#include "WinFileUtils.h"
#include "WinSysInfo.h"

namespace WrapCommand {

// Measured under Wine 8: a setup program of 2,146,622,464 bytes loads, and
// Wine's own resource updater already fails on a larger one. Windows does not
// map images of 2 GiB or more either.
const std::uint64_t maxImageSize = 0x7fffffffull;

std::uint64_t maxPackageSize(std::uint64_t stubSize) {
    const std::uint64_t reserve = stubSize + 64 * 1024;
    return reserve < maxImageSize ? maxImageSize - reserve : 0;
}

namespace {

const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

tstring defaultStub() {
    return FileUtils::joinPath(FileUtils::dirname(SysInfo::getProcessModulePath()),
                               L"brumlet-wrapper.exe");
}

// Returns the stub's size.
std::uint64_t checkStub(const tstring& stub) {
    const std::uint64_t size = ToolFiles::requireReadable(stub, L"stub");
    PeImage::Headers headers;
    try {
        headers = PeImage::readHeaders(stub);
    } catch (const std::runtime_error&) {
        BM_TOOL_FAIL("stub '" << stub << "' is not a Windows executable");
    }
    if (!PeImage::isGuiImage64(headers)) {
        BM_TOOL_FAIL("stub '" << stub << "' is not a 64-bit Windows GUI program (PE32+)");
    }
    if (headers.certificateSize != 0) {
        BM_TOOL_FAIL("stub '" << stub
                              << "' is signed and wrapping would break its signature; use the "
                                 "unsigned brumlet-wrapper.exe and sign the setup program");
    }
    return size;
}

std::vector<std::uint8_t> readWholeFile(const tstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) {
        BM_TOOL_FAIL("cannot read '" << path << "'");
    }
    return bytes;
}

std::vector<std::uint8_t> versionResource(const PackageInfo& info, const tstring& output) {
    VersionResource version;
    try {
        version.setVersion(info.productVersion);
    } catch (const std::runtime_error&) {
        // The strings still tell the version; the numbers stay 0.
    }
    const tstring description =
        info.productName.empty() ? tstring(L"Setup") : info.productName + L" Setup";
    version.setString(L"CompanyName", info.manufacturer);
    version.setString(L"FileDescription", description);
    version.setString(L"FileVersion", info.productVersion);
    version.setString(L"OriginalFilename", FileUtils::basename(output));
    version.setString(L"ProductName", info.productName);
    version.setString(L"ProductVersion", info.productVersion);
    return version.bytes();
}

void checkOutput(const WrapOptions& options, const tstring& output, const tstring& stub) {
    const tstring dir = FileUtils::dirname(FileUtils::toAbsolutePath(output));
    if (!FileUtils::isDirectory(dir)) {
        BM_TOOL_FAIL("output folder '" << dir << "' does not exist");
    }
    if (FileUtils::isDirectory(output)) {
        BM_TOOL_FAIL("output '" << output << "' is a folder; name the setup program to write");
    }
    if (ToolFiles::sameFile(output, options.package)) {
        BM_TOOL_FAIL("output '" << output << "' is the package itself; choose another name");
    }
    if (ToolFiles::sameFile(output, stub)) {
        BM_TOOL_FAIL("output '" << output << "' is the stub itself; choose another name");
    }
}

}  // namespace

tstring defaultOutput(const tstring& package) {
    return FileUtils::removeSuffix(FileUtils::toAbsolutePath(package)) + L"-setup.exe";
}

tstring run(const WrapOptions& options) {
    const PackageInfo info = PackageInfo::read(options.package);
    const tstring stub = options.stub.empty() ? defaultStub() : options.stub;
    const std::uint64_t stubSize = checkStub(stub);

    std::unique_ptr<IconGroup> icon;
    if (!options.icon.empty()) {
        ToolFiles::requireReadable(options.icon, L"icon");
        icon.reset(new IconGroup(readWholeFile(options.icon), options.icon));
    } else if (!info.icon.empty()) {
        icon.reset(new IconGroup(info.icon, options.package + L" (ARPPRODUCTICON)"));
    }

    const tstring output = FileUtils::toAbsolutePath(
        options.output.empty() ? defaultOutput(options.package) : options.output);
    checkOutput(options, output, stub);
    if (info.size > maxPackageSize(stubSize)) {
        BM_TOOL_FAIL("package '" << options.package << "' is too large to embed: " << info.size
                                 << " bytes, at most " << maxPackageSize(stubSize)
                                 << " fit in a setup program that Windows can start");
    }

    const MappedFile package(options.package);
    ResourceImage image(readWholeFile(stub));
    if (image.has(RT_RCDATA, L"MSI")) {
        BM_TOOL_FAIL("stub '" << stub
                              << "' already carries a package; use the bare "
                                 "brumlet-wrapper.exe");
    }
    const std::string code = tstrings::toUtf8(info.productCode.toString());
    const std::vector<std::uint8_t> version = versionResource(info, output);
    // Upper-case names: the loader looks text names up in upper case.
    image.set(RT_RCDATA, L"MSI", neutral, package.data(), package.size());
    image.set(RT_RCDATA, L"PRODUCT_CODE", neutral, code.data(), code.size());
    image.set(RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO), VersionResource::language,
              version.data(), version.size());
    if (icon) {
        WORD id = icon->firstId();
        for (const auto& bytes : icon->images()) {
            image.set(RT_ICON, id++, neutral, bytes.data(), bytes.size());
        }
        image.set(RT_GROUP_ICON, 1, neutral, icon->groupDirectory().data(),
                  icon->groupDirectory().size());
    }

    // Everything is written to a sibling first: an existing output is only
    // ever replaced by a complete setup program.
    const tstring tmp = FileUtils::createTempFile(L"qzt", L".tmp", FileUtils::dirname(output));
    FileUtils::ScopedDeleter cleaner;
    cleaner.addFile(tmp);
    image.write(tmp);

    FileUtils::moveFile(tmp, output, false);
    cleaner.cancel();
    return output;
}

}  // namespace WrapCommand
