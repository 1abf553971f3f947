#include "CommandOutput.h"

#include <algorithm>

#include "JsonWriter.h"
#include "ToolPlatform.h"

namespace CommandOutput {

const std::vector<std::string>& flags() {
    static const std::vector<std::string> names = {"--json", "--quiet"};
    return names;
}

bool wantsJson(const std::vector<std::string>& args) {
    // After "--" the word is a file's name.
    const auto end = std::find(args.begin(), args.end(), "--");
    return std::find(args.begin(), end, "--json") != end;
}

void printJson(const JsonWriter& json) {
    const std::string& text = json.text();
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        ToolPlatform::printOut(text.substr(start, end - start));
        start = end + 1;
    }
}

void printJsonError(const std::string& message, int status) {
    JsonWriter json;
    json.beginObject();
    json.key("error").value(message);
    json.key("exit").value(static_cast<std::int64_t>(status));
    json.endObject();
    printJson(json);
}

void printWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) {
        ToolPlatform::printErr("brumlet: warning: " + warning);
    }
}

}  // namespace CommandOutput
