#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the command line needs of the machine it runs on, one source per
// platform (packager/win, packager/posix). Text is UTF-8 throughout; Windows
// converts at its edge (its paths, arguments and console are UTF-16).
namespace ToolPlatform {

// The arguments after the program name. Called once, before anything else:
// a platform sets up what it needs for the run here (Windows: its logger).
std::vector<std::string> arguments(int argc, char** argv);

// One line each, best effort: a closed pipe does not turn success into failure.
void printOut(const std::string& line);
void printErr(const std::string& line);

// Bytes as they are on standard output, for a pipe or a file (the package of
// `extract -o -`). Raises a ToolError when they cannot all be written.
void writeOut(const std::uint8_t* data, std::uint64_t size);
// Whether standard output is a terminal, where such bytes are of no use.
bool outputIsTerminal();

// The bare stub the tool takes when --stub is not given: beside brumlet.exe on
// Windows; on Linux <prefix>/share/brumlet/brumlet-wrapper.exe of an installed
// tool, or the one beside the program in a build tree.
std::string defaultStub();

std::string absolutePath(const std::string& path);
// Whether `c` separates folders in a path ('/' and, on Windows, '\\').
bool isSeparator(char c);
bool isDirectory(const std::string& path);
bool exists(const std::string& path);
// Whether both paths name the same existing file, through any spelling.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace ToolPlatform
