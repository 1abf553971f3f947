#pragma once

#include <string>
#include <vector>

class JsonWriter;

// What every command shares in how it reports. Text is for people: a
// success line on standard output (which --quiet drops), warnings and
// errors on standard error. With --json a script reads one JSON object on
// standard output instead, on success and on failure alike, while standard
// error keeps its lines.
namespace CommandOutput {

// The flags every command takes besides its own.
const std::vector<std::string>& flags();

// Whether the command line asks for JSON, looked for before it is parsed, so
// that a wrong command line is reported as JSON too.
bool wantsJson(const std::vector<std::string>& args);

// The document, one line at a time, on standard output.
void printJson(const JsonWriter& json);

// {"error": message, "exit": status}.
void printJsonError(const std::string& message, int status);

// Each as "brumlet: warning: ..." on standard error.
void printWarnings(const std::vector<std::string>& warnings);

}  // namespace CommandOutput
