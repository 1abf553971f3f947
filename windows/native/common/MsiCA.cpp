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
MSIHANDLE openDatabase(const CAImpl& ca) {
    const MSIHANDLE h = lib().MsiGetActiveDatabase(ca.getHandle());
    if (h == 0) {
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
    const UINT status = lib().MsiSetPropertyW(handle, name.c_str(), value.c_str());
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder()
                           << "MsiSetProperty(" << name << ", " << value << ") failed",
                       status));
    }
}

void CAImpl::removeProperty(const tstring& name) {
    LOG_TRACE("Removing MSI property '" << name << "'");
    const UINT status = lib().MsiSetPropertyW(handle, name.c_str(), nullptr);
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder() << "MsiSetProperty(" << name << ", NULL) failed",
                       status));
    }
}

Guid CAImpl::getProductCode() const {
    return Guid(getProperty(L"ProductCode"));
}

bool CAImpl::isInMode(MSIRUNMODE mode) const {
    return lib().MsiGetMode(handle, mode) != FALSE;
}

tstring CAImpl::getActiveModes() const {
    tstring modes;
    for (int mode = 0; mode <= 18; ++mode) {
        modes += isInMode(static_cast<MSIRUNMODE>(mode)) ? L'1' : L'0';
    }
    return modes;
}

void CAFacade::doAction(const tstring& name) {
    const UINT status = lib().MsiDoActionW(getHandle(), name.c_str());
    if (status != ERROR_SUCCESS) {
        BM_THROW(Error(tstrings::MessageBuilder() << "MsiDoAction(" << name << ") failed", status));
    }
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
