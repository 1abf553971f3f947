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

namespace {

std::string seconds(int count) {
    return std::to_string(count) + (count == 1 ? " second" : " seconds");
}

}  // namespace

std::string ranPast(int count) {
    return "it ran past " + seconds(count) + " of processor time";
}

std::string gaveNoAnswer(int count) {
    return "it gave no answer in " + seconds(count);
}

std::string endUnknown() {
    return "its end is unknown";
}

}  // namespace ReaderOutcome
