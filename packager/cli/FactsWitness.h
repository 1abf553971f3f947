#pragma once

#include <string>

#include "PackageFacts.h"

// The installer library as a witness of what the image core read: it runs
// over the same bytes and must read every fact the same. Where it reads
// another value, two conforming readers take the package for two different
// ones (Windows Installer may install the one the tools did not describe),
// and the package is refused.
namespace FactsWitness {

// Raises a ToolError naming the first fact that differs: "the installer
// library reads ProductCode '{A}' in package 'x.msi' where the Property table
// holds '{B}': the package is ambiguous". `label` names the package as the
// reader's messages do ("package 'x.msi'", "the package inside 'x.exe'").
// Rows are compared in one order whatever order each reader gave them in.
void compare(const PackageFacts& core, const PackageFacts& library, const std::string& label);

// A value for a message: control characters escaped, cut after about 64
// bytes (never inside a character) with "...", without copying the rest.
std::string shown(const std::string& text);

}  // namespace FactsWitness
