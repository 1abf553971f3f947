#include "SetupProgram.h"

#include "ErrorHandling.h"
#include "PeImage.h"
#include "Resources.h"
#include "ToolError.h"
#include "ToolFiles.h"
#include "WinErrorHandling.h"

SetupProgram::SetupProgram(const tstring& path) : path(path) {
    ToolFiles::requireReadable(path, L"file");
    try {
        PeImage::readHeaders(path);
    } catch (const std::runtime_error&) {
        BM_TOOL_FAIL("'" << path << "' is neither an installer package nor a setup program");
    }
    // As a data file: none of its code runs and nothing it imports is loaded.
    module.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) {
        BM_THROW_SYSERROR("LoadLibraryEx(" << path << ", LOAD_LIBRARY_AS_DATAFILE) failed",
                          LoadLibraryExW);
    }
    if (!Resource(L"MSI", RT_RCDATA, module.get()).available()) {
        BM_TOOL_FAIL("'" << path
                         << "' is a program without an embedded package, not a "
                            "setup program made by brumlet");
    }
}

std::string SetupProgram::productCodeText() const {
    const Resource code(L"PRODUCT_CODE", RT_RCDATA, module.get());
    if (!code.available()) {
        BM_TOOL_FAIL("setup program '" << path << "' carries no product code");
    }
    const auto bytes = code.bytes();
    return std::string(bytes.begin(), bytes.end());
}

std::uint64_t SetupProgram::packageSize() const {
    return Resource(L"MSI", RT_RCDATA, module.get()).size();
}

void SetupProgram::savePackage(const tstring& target) const {
    Resource(L"MSI", RT_RCDATA, module.get()).saveToFile(target);
}
