#pragma once

#include <windows.h>

class InputFile;

// The handle an InputFile holds (read access, shared with readers only),
// for the package reader, which hands that very file to its reader process.
struct InputFileAccess {
    static HANDLE handle(const InputFile& file);
};
