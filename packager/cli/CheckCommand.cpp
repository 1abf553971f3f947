#include "CheckCommand.h"

#include "CommandLine.h"
#include "CommandOutput.h"
#include "JsonWriter.h"
#include "PackageReport.h"
#include "ReadCommands.h"
#include "ToolError.h"
#include "ToolPlatform.h"

namespace CheckCommand {

namespace {

// Every check a file must pass, the product code's first: a setup program
// whose package has another product code installs, but cannot uninstall.
// Then its signature: one that no longer fits the file is no signature.
std::vector<PackageChecks::Finding> findingsOf(const PackageReport& report) {
    std::vector<PackageChecks::Finding> findings;
    if (!report.mismatch.empty()) {
        findings.push_back({true, "product-code-mismatch", report.mismatch});
    }
    const std::string signature = report.setupSignature.refusal(report.path);
    if (!signature.empty()) {
        findings.push_back({true, "setup-signature", signature});
    }
    findings.insert(findings.end(), report.findings.begin(), report.findings.end());
    return findings;
}

}  // namespace

int run(const std::vector<std::string>& args) {
    std::vector<std::string> flags = CommandOutput::flags();
    flags.push_back("--strict");
    const CommandLine line(args, {}, flags);
    // For jobs that take a warning for a failure: it fails the check as a
    // refusal does, reported the same way.
    const bool strict = line.flag("--strict");
    int status = 0;
    ReadCommands::examine(line.file(), [&](const PackageReport& report) {
        const std::vector<PackageChecks::Finding> findings = findingsOf(report);
        std::string firstRefusal;
        std::string firstWarning;
        for (const PackageChecks::Finding& finding : findings) {
            ToolPlatform::printErr(std::string("brumlet: ") + (finding.refusal ? "" : "warning: ") +
                                   finding.message);
            std::string& first = finding.refusal ? firstRefusal : firstWarning;
            if (first.empty()) {
                first = finding.message;
            }
        }
        if (firstRefusal.empty() && strict) {
            firstRefusal = firstWarning;
        }
        status = firstRefusal.empty() ? 0 : 1;
        if (line.flag("--json")) {
            JsonWriter json;
            json.beginObject();
            json.key("file").value(report.path);
            json.key("kind").value(report.setupProgram ? "setup program" : "installer package");
            json.key("passed").value(status == 0);
            json.key("checks");
            PackageReport::writeChecks(json, findings);
            if (status != 0) {
                json.key("error").value(firstRefusal);
                json.key("exit").value(static_cast<std::int64_t>(status));
            }
            json.endObject();
            CommandOutput::printJson(json);
        } else if (status == 0 && !line.flag("--quiet")) {
            ToolPlatform::printOut(
                quoted(report.path) +
                (report.setupProgram
                     ? " passes every check: its package can install, under its product code"
                     : " passes every check: a setup program can install it"));
        }
    });
    return status;
}

}  // namespace CheckCommand
