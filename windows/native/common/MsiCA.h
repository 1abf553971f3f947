#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <map>

#include "Guid.h"
#include "tstrings.h"

namespace msi {

// What a custom action works on: the install handle the installer passed to
// its entry point, valid for that one call.
class CAImpl {
public:
    explicit CAImpl(MSIHANDLE handle) : handle(handle) {}

    tstring getProperty(const tstring& name) const;
    // An empty value raises: the installer would silently remove the
    // property instead, which is what removeProperty() is for.
    void setProperty(const tstring& name, const tstring& value);
    void removeProperty(const tstring& name);

    Guid getProductCode() const;

    bool isInMode(MSIRUNMODE mode) const;
    // One digit per run mode 0 to 18: "1" where the installation is in that
    // mode. Meant for the log.
    tstring getActiveModes() const;

    MSIHANDLE getHandle() const noexcept { return handle; }

private:
    MSIHANDLE handle;
};

// The custom-action context with chainable operations.
class CAFacade : public CAImpl {
public:
    explicit CAFacade(MSIHANDLE handle) : CAImpl(handle) {}

    // Runs a standard or custom action of the installation.
    void doAction(const tstring& name);

    tstring getProperty(const tstring& name) const { return CAImpl::getProperty(name); }
    CAFacade& setProperty(const tstring& name, const tstring& value) {
        CAImpl::setProperty(name, value);
        return *this;
    }
    // Leaves a property that already has a value alone.
    CAFacade& setPropertyIfEmpty(const tstring& name, const tstring& value);
};

// A custom action that takes its arguments as "name=value" pairs separated by
// '*', optionally followed by "**" and a free tail, which is kept under the
// empty name. Names and values of pairs cannot hold '*'; values can hold '='.
//
// A deferred action reads them from CustomActionData. The same code run as
// an immediate action (for example while testing a package) reads them from
// the property named `argsPropertyName` instead, when one is given.
class DeferredCA : public CAFacade {
public:
    typedef std::map<tstring, tstring> ArgsCtnr;

    // Reads and parses the arguments; malformed arguments raise here.
    explicit DeferredCA(MSIHANDLE handle, const tstring& argsPropertyName = tstring());

    tstring getRawArgs() const;

    // A name not present raises.
    tstring getParsedArg(const tstring& name) const;

    // Parses `text` into `args`. Parsed values replace those `args` held
    // under the same names; its other entries stay.
    static void parseArgs(ArgsCtnr& args, const tstring& text);

private:
    ArgsCtnr args;
    tstring argsPropertyName;
};

// Back slashes only and exactly one at the end; an empty path stays empty.
tstring normalizeDirectoryPath(const tstring& path);

}  // namespace msi
