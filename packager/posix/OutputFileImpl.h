#pragma once

#include "OutputFile.h"

// For the package reader, which has the library read what an output holds
// before it is committed.
struct OutputFileAccess {
    // Open for reading and writing; it holds what was written so far.
    static int descriptor(const OutputFile& file);
};
