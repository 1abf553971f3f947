#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackageReader.h"
#include "ToolError.h"

// What the tool makes of the reader process's end, on every platform.
// `label` names the package as the messages begin ("package 'app.msi'",
// "the package inside 'app-setup.exe'").
namespace ReaderOutcome {

// The facts of the answer the reader wrote before it ended normally. Its
// refusal becomes the ToolError "<label> <refusal>"; an answer that is not
// one is a reader gone astray, as damaged() says.
PackageFacts take(const std::vector<std::uint8_t>& answer, const std::string& label);

// A reader that crashed, hung, reached a limit or answered nonsense: "the
// installer library could not read 'app-setup.exe' (<what happened>): the
// package is damaged", naming the file the user named.
ToolError damaged(const std::string& label, const std::string& whatHappened);

// What happened, in the words damaged() takes, to a reader that used up its
// processor time: "it ran past 10 seconds of processor time".
std::string ranPast(int seconds);

// To a reader that had processor time left but gave no answer while the tool
// waited (blocked, or stopped on its own): "it gave no answer in 120 seconds".
std::string gaveNoAnswer(int seconds);

// To a reader whose end the system did not report.
std::string endUnknown();

}  // namespace ReaderOutcome
