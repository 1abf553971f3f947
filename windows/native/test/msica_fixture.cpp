// A custom-action DLL built on the custom-action framework. The installer
// runs it while it installs msica_pkg.msi; what it finds is left in the
// installer's log, in properties the package records in the registry, and
// in a file whose path the installation is given.

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <thread>

#include "ErrorHandling.h"
#include "Log.h"
#include "MsiCA.h"
#include "MsiDb.h"
#include "MsiLogAppender.h"
#include "StagedFileWriter.h"

namespace {

std::string bareMessage(const std::runtime_error& e) {
    const auto* located = dynamic_cast<const BmErrorBase*>(&e);
    return located ? located->bareMessage() : e.what();
}

void immediateAction(MSIHANDLE install) {
    msi::CAFacade ca(install);
    LOG_INFO("Immediate action in run modes " << ca.getActiveModes());
    ca.setProperty(L"BRUMLET_CA_SET", L"set by the action");
    ca.removeProperty(L"BRUMLET_CA_REMOVE");
    try {
        ca.setProperty(L"BRUMLET_CA_EMPTY", L"");
    } catch (const std::runtime_error& e) {
        LOG_WARNING(e.what());
        ca.setProperty(L"BRUMLET_CA_REFUSED", tstrings::fromUtf8(bareMessage(e)));
    }
    ca.setProperty(L"BRUMLET_CA_DATABASE", msi::Database(ca).getProperty(L"ProductName"));
    ca.setPropertyIfEmpty(L"BrumletDeferred", L"out=" + ca.getProperty(L"BRUMLET_CA_OUT") +
                                                  L"*pair=1*x=y=z*pair=2**tail * with = signs");
    std::thread([] { LOG_INFO("A record from another thread"); }).join();
}

void deferredAction(MSIHANDLE install) {
    const msi::DeferredCA ca(install);
    tstrings::MessageBuilder report;
    report << "modes=" << ca.getActiveModes() << "\n";
    for (const wchar_t* name : {L"pair", L"x", L""}) {
        report << "[" << name << "]=" << ca.getParsedArg(name) << "\n";
    }
    try {
        ca.getParsedArg(L"missing");
    } catch (const std::runtime_error& e) {
        report << "missing: " << bareMessage(e) << "\n";
    }
    LOG_INFO(report.tstr());

    const std::string text = report.str();
    FileUtils::StagedFileWriter out(ca.getParsedArg(L"out"));
    out.write(text.data(), text.size());
    out.finalize();
}

// Nothing may escape into the installer; a failure fails the installation.
UINT run(void (*action)(MSIHANDLE), MSIHANDLE install) {
    // The installer's log is where records belong, not the console of the
    // installer's helper process.
    NopLogAppender quiet;
    LogAppender* const previous = Logger::instance().installAppender(&quiet);
    UINT status = ERROR_INSTALL_FAILURE;
    {
        const msi::MsiLogScope scope(install);
        try {
            action(install);
            status = ERROR_SUCCESS;
        }
        BM_GUARD_CATCH
    }
    Logger::instance().installAppender(previous);
    return status;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall BrumletImmediate(MSIHANDLE install) {
    return run(immediateAction, install);
}

extern "C" __declspec(dllexport) UINT __stdcall BrumletDeferred(MSIHANDLE install) {
    return run(deferredAction, install);
}
