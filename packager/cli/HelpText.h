#pragma once

#include <string>
#include <vector>

// The tool's usage: the overview that `brumlet --help` and a wrong command
// line show, and one page per command.
namespace HelpText {

const std::vector<std::string>& overview();

// Empty for a word that is no command.
std::vector<std::string> command(const std::string& name);

// Whether the argument asks for help: "--help", "-h" and, on Windows, "/?".
bool asksForHelp(const std::string& arg);

}  // namespace HelpText
