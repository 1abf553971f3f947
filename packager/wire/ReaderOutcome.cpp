#include "ReaderOutcome.h"

#include "FactsWire.h"

namespace ReaderOutcome {

PackageFacts take(const std::vector<std::uint8_t>& answer, const std::string& label) {
    FactsWire::Answer read;
    try {
        read = FactsWire::decode(answer.data(), answer.size());
    } catch (const FactsWire::Malformed& e) {
        throw damaged(label, std::string("it answered nonsense: ") + e.what());
    }
    if (!read.refusal.empty()) {
        throw ToolError(label + " " + read.refusal);
    }
    return std::move(read.facts);
}

ToolError damaged(const std::string& label, const std::string& whatHappened) {
    // The label quotes the file the user named as its last words; the name
    // itself may hold quotes, so it runs from the first to the last one.
    const std::size_t first = label.find('\'');
    const std::size_t last = label.rfind('\'');
    const std::string file =
        first != std::string::npos && last > first ? label.substr(first, last - first + 1) : label;
    return ToolError("the installer library could not read " + file + " (" + whatHappened +
                     "): the package is damaged");
}

}  // namespace ReaderOutcome
