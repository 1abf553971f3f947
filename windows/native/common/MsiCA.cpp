#include "MsiCA.h"

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "MsiDb.h"
#include "MsiUtils.h"

namespace msi {

namespace {

// The database of the running installation, with whatever the installation
// has changed in it so far, which the package file on disk does not show.
UniqueMsiHandle openDatabase(const CAImpl& ca) {
    UniqueMsiHandle h(lib().MsiGetActiveDatabase(ca.getHandle()));
    if (!h) {
        BM_THROW(Error("MsiGetActiveDatabase() failed", ERROR_FUNCTION_FAILED));
    }
    return h;
}

void parseArg(DeferredCA::ArgsCtnr& args, const tstring& piece) {
    const size_t pos = piece.find(L'=');
    if (pos == tstring::npos) {
        BM_THROW_MSG("Missing expected '=' character in [" << piece << "] string.");
    }
    args[piece.substr(0, pos)] = piece.substr(pos + 1);
}

}  // namespace

tstring CAImpl::getProperty(const tstring& name) const {
    return msi::getProperty(handle, name);
}

void CAImpl::setProperty(const tstring& name, const tstring& value) {
    if (value.empty()) {
        BM_THROW_MSG("Attempt to assign empty value to '" << name << "' MSI property");
    }
    LOG_TRACE("Setting MSI property '" << name << "' to '" << value << "'");
    BM_THROW_IF_MSI_ERROR(lib().MsiSetPropertyW(handle, name.c_str(), value.c_str()),
                          "MsiSetProperty(" << name << ", " << value << ") failed");
}

void CAImpl::removeProperty(const tstring& name) {
    LOG_TRACE("Removing MSI property '" << name << "'");
    BM_THROW_IF_MSI_ERROR(lib().MsiSetPropertyW(handle, name.c_str(), nullptr),
                          "MsiSetProperty(" << name << ", NULL) failed");
}

Guid CAImpl::getProductCode() const {
    return Guid(getProperty(L"ProductCode"));
}

bool CAImpl::isInMode(MSIRUNMODE mode) const {
    return lib().MsiGetMode(handle, mode) != FALSE;
}

tstring CAImpl::getActiveModes() const {
    tstring modes;
    // The run modes are numbered without gaps from MSIRUNMODE_ADMIN (0) to
    // MSIRUNMODE_COMMIT (18), the last the installer defines. The reserved
    // numbers among them are asked too, so digit n always stands for mode n.
    for (int mode = 0; mode <= 18; ++mode) {
        modes += isInMode(static_cast<MSIRUNMODE>(mode)) ? L'1' : L'0';
    }
    return modes;
}

void CAFacade::doAction(const tstring& name) {
    BM_THROW_IF_MSI_ERROR(lib().MsiDoActionW(getHandle(), name.c_str()),
                          "MsiDoAction(" << name << ") failed");
}

CAFacade& CAFacade::setPropertyIfEmpty(const tstring& name, const tstring& value) {
    if (getProperty(name).empty()) {
        setProperty(name, value);
    }
    return *this;
}

DeferredCA::DeferredCA(MSIHANDLE handle, const tstring& argsPropertyName)
    : CAFacade(handle), argsPropertyName(argsPropertyName) {
    parseArgs(args, getRawArgs());
}

tstring DeferredCA::getRawArgs() const {
    if (!isInMode(MSIRUNMODE_SCHEDULED) && !argsPropertyName.empty()) {
        return getProperty(argsPropertyName);
    }
    return getProperty(L"CustomActionData");
}

tstring DeferredCA::getParsedArg(const tstring& name) const {
    const auto it = args.find(name);
    if (it == args.end()) {
        BM_THROW_MSG("Argument << '" << name << "' not found.");
    }
    return it->second;
}

void DeferredCA::parseArgs(ArgsCtnr& args, const tstring& text) {
    ArgsCtnr parsed;

    const size_t tailPos = text.find(L"**");
    const tstring pairs = tailPos == tstring::npos ? text : text.substr(0, tailPos);
    for (const tstring& piece : tstrings::split(pairs, L"*", tstrings::AllTokens)) {
        parseArg(parsed, piece);
    }
    if (tailPos != tstring::npos) {
        parsed[tstring()] = text.substr(tailPos + 2);
    }

    parsed.insert(args.begin(), args.end());
    args.swap(parsed);
}

tstring normalizeDirectoryPath(const tstring& path) {
    if (path.empty()) {
        return path;
    }
    return FileUtils::stripTrailingSeparators(tstrings::replace(path, L"/", L"\\")) + L"\\";
}

Database::Database(const CAImpl& ca) : path(L"*CA*"), handle(openDatabase(ca)) {}

}  // namespace msi
