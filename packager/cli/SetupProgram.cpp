#include "SetupProgram.h"

#include "Authenticode.h"
#include "FormatError.h"
#include "PeFile.h"
#include "ProductCode.h"
#include "ResourceTree.h"
#include "ToolError.h"

SetupProgram::SetupProgram(const std::string& path) : file(path, "file") {
    if (!looksLikeOne(file.data(), file.size())) {
        throw ToolError(quoted(path) + " is neither an installer package nor a setup program");
    }
    try {
        pe.reset(new image::PeFile(file.data(), file.size()));
        pe->checkLayout();
        resources.reset(new image::ResourceTree(image::ResourceTree::read(*pe)));
    } catch (const image::FormatError& e) {
        throw ToolError(quoted(path) + " is a damaged executable: " + e.what());
    }
    using image::ResourceType::rcdata;
    const image::ByteView* msi = nullptr;
    const image::ByteView* code = nullptr;
    try {
        msi = resources->findOnly(rcdata, u"MSI");
        code = resources->findOnly(rcdata, u"PRODUCT_CODE");
    } catch (const image::FormatError& e) {
        throw ToolError("setup program " + quoted(path) + " is ambiguous: " + e.what() +
                        "; wrap the package again");
    }
    if (!msi) {
        throw ToolError(quoted(path) +
                        " is a program without an embedded package, not a setup program made "
                        "by brumlet");
    }
    package = *msi;
    if (!code) {
        throw ToolError("setup program " + quoted(path) + " carries no product code");
    }
    codeText.assign(reinterpret_cast<const char*>(code->data()),
                    static_cast<std::size_t>(code->size()));
}

SetupProgram::~SetupProgram() = default;

bool SetupProgram::looksLikeOne(const std::uint8_t* data, std::uint64_t size) {
    return image::PeFile::hasSignature(data, size);
}

bool SetupProgram::isSigned() const noexcept {
    return image::Authenticode::isSigned(*pe);
}

Package SetupProgram::readPackage() const {
    return Package::readEmbedded(file, static_cast<std::uint64_t>(package.data() - file.data()),
                                 package.size());
}

std::string SetupProgram::packageSubject() const {
    return "the package inside " + quoted(path());
}

void SetupProgram::checkPackage() const {
    Package::requireInstallerDatabase(package.data(), package.size(), packageSubject());
}

bool SetupProgram::matches(const Package& inside) const {
    return ProductCode::canonical(codeText) == inside.productCode;
}

void SetupProgram::requireMatch(const Package& inside) const {
    if (!matches(inside)) {
        throw ToolError(mismatch(inside));
    }
}

std::string SetupProgram::mismatch(const Package& inside) const {
    return "setup program " + quoted(path()) + " carries the product code " +
           quoted(productCodeShown()) + " but its package has " + inside.productCode +
           "; its uninstall would not find the product: wrap the package again";
}

std::string SetupProgram::productCodeShown() const {
    const std::size_t longest = 64;
    if (codeText.size() <= longest) {
        return ProductCode::visible(codeText);
    }
    return ProductCode::visible(codeText.substr(0, longest)) + "...";
}
