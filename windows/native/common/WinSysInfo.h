#pragma once

#include <windows.h>

#include <new>

#include "ErrorHandling.h"
#include "tstrings.h"

namespace SysInfo {

// Whether getCommandArgs keeps the program name. Only ExcludeProgramName
// drops it; any other value keeps it.
enum CommandArgsMode { IncludeProgramName = 0, ExcludeProgramName = 1 };

// The process's command line split as CommandLineToArgvW splits it.
tstring_array getCommandArgs(CommandArgsMode mode);

// Raises when the variable is not set.
tstring getEnvVariable(const tstring& name);
// Never raises: a variable that is not set or cannot be read yields
// `defValue`. A variable set to the empty string yields the empty string.
tstring getEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& defValue);

bool isEnvVariableSet(const tstring& name);

void setEnvVariable(const tstring& name, const tstring& value);

// The module this code is linked into: the executable, or the library when the
// code runs inside a DLL. No reference is added.
HMODULE getCurrentModuleHandle();

tstring getProcessModulePath();
tstring getCurrentModulePath();

// Without a trailing separator.
tstring getSystemDir();

tstring getMsiexecPath();

}  // namespace SysInfo

// A pause for attaching a debugger: when the environment variable `name` is
// "*" or contains `pattern`, shows a message box naming `location` and waits
// until it is dismissed. Does nothing when the variable is not set.
void debugBreakIfRequested(const SourceLocation& location, const tstring& name,
                           const tstring& pattern);
