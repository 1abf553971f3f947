#include "HelpText.h"

namespace HelpText {

namespace {

struct Page {
    const char* name;
    std::vector<std::string> lines;
};

const std::vector<Page>& pages() {
    static const std::vector<Page> all = {
        {"wrap",
         {
             "Usage: brumlet wrap PACKAGE.msi [-o SETUP.exe] [--stub STUB.exe] [--icon ICON]",
             "                    [--force] [--json] [--quiet]",
             "",
             "Makes a setup program that installs PACKAGE.msi: the bare stub",
             "brumlet-wrapper.exe with the package, its product code, version information",
             "from the package and an icon.",
             "",
             "  -o, --output SETUP.exe",
             "                   the setup program to write (default: the package's name",
             "                   with -setup.exe, beside the package)",
             "  --stub STUB.exe  the bare stub (default: brumlet-wrapper.exe where the",
             "                   tool was installed)",
             "  --icon ICON      an .ico file, or an .exe or .dll whose first icon is",
             "                   taken; one that cannot be used fails the wrap (default:",
             "                   the package's ARPPRODUCTICON, which only warns when it",
             "                   cannot be used)",
             "  --force          replace an existing SETUP.exe that is no setup program",
             "                   made by Brumlet, or that is read-only",
             "  --json           one JSON object on standard output, on a failure too:",
             "                   {\"error\": \"...\", \"exit\": N}",
             "  --quiet          no line on success; warnings and errors stay",
             "",
             "Refused, as no setup program could install them: packages that need a",
             "cabinet or uncompressed files beside them, that lack a cabinet they name",
             "(a stream of exactly its name) or a Media row with a cabinet for each",
             "compressed file, and 64-bit packages that ask for an installer version",
             "below 200. Replacing a signed setup program warns: the new one needs",
             "signing again.",
         }},
        {"info",
         {
             "Usage: brumlet info [--json] [--quiet] FILE",
             "",
             "Shows what a package, or the package inside a setup program, is: product",
             "code, name, version, manufacturer, size, architecture, UpgradeCode, install",
             "scope, Authenticode signatures, and what would stop it from installing",
             "through a setup program (which is reported, not a failure: see check).",
             "",
             "  --json           the same facts as one JSON object, for scripts",
             "  --quiet          taken as by every command (the facts are still shown)",
         }},
        {"check",
         {
             "Usage: brumlet check [--strict] [--json] [--quiet] FILE",
             "",
             "Succeeds only when a setup program can install the package FILE, or when",
             "the setup program FILE carries its package's product code and that package",
             "can install: for scripts that must stop on what wrap would refuse. Each",
             "finding is one line on standard error; warnings fail the check only with",
             "--strict. A signed setup program fails when the file changed after signing",
             "(its signer's certificate chain is not judged: integrity only, not trust).",
             "",
             "  --strict         warnings fail the check too (exit status 1)",
             "  --json           one JSON object on standard output, on a failure too:",
             "                   {\"error\": \"...\", \"exit\": N}",
             "  --quiet          no line on success; warnings and errors stay",
         }},
        {"extract",
         {
             "Usage: brumlet extract SETUP.exe [-o PACKAGE.msi] [--force] [--json] [--quiet]",
             "",
             "Writes the package inside a setup program out byte for byte.",
             "",
             "  -o, --output PACKAGE.msi",
             "                   the package to write (default: the setup program's name",
             "                   without -setup.exe, with .msi); - writes it to standard",
             "                   output, and nothing else goes there",
             "  --force          replace an existing file; without it an existing file is",
             "                   kept, and one that already holds the package is left as",
             "                   it is",
             "  --json           one JSON object on standard output, on a failure too:",
             "                   {\"error\": \"...\", \"exit\": N}",
             "  --quiet          no line on success; warnings and errors stay",
         }},
        {"help",
         {
             "Usage: brumlet help [COMMAND]",
             "",
             "Shows the tool's usage, or a command's.",
         }},
    };
    return all;
}

}  // namespace

const std::vector<std::string>& overview() {
    static const std::vector<std::string> lines = {
        "Usage:",
        "  brumlet wrap PACKAGE.msi [-o SETUP.exe] [--stub STUB.exe] [--icon ICON] [--force]",
        "      Makes a setup program that installs PACKAGE.msi (default output: the",
        "      package's name with -setup.exe, beside the package).",
        "  brumlet info FILE",
        "      Shows product code, name, version, manufacturer and size of a package",
        "      or of the package inside a setup program, and what would stop it.",
        "  brumlet check [--strict] FILE",
        "      Fails unless the package, or the setup program, can install (with",
        "      --strict, on a warning too).",
        "  brumlet extract SETUP.exe [-o PACKAGE.msi] [--force]",
        "      Writes the package inside a setup program out unchanged (default",
        "      output: the setup program's name without -setup.exe, with .msi;",
        "      -o - writes it to standard output).",
        "  brumlet help COMMAND, brumlet COMMAND --help",
        "      Shows a command's options.",
        "  brumlet --help | --version",
        "",
        "Every command takes --json (one JSON object on standard output, on a",
        "failure too) and --quiet (no line on success). An option's value may follow",
        "as --name=VALUE; -- ends the options. Files are read by their paths: - is",
        "no input.",
        "",
        "Exit status: 0 on success, 1 on a failure, 2 on a wrong command line.",
    };
    return lines;
}

std::vector<std::string> command(const std::string& name) {
    for (const Page& page : pages()) {
        if (name == page.name) {
            return page.lines;
        }
    }
    return {};
}

bool asksForHelp(const std::string& arg) {
#ifdef _WIN32
    if (arg == "/?") {
        return true;
    }
#endif
    return arg == "--help" || arg == "-h";
}

}  // namespace HelpText
