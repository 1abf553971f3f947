#pragma once

#include "OutputFile.h"
#include "tstrings.h"

// For the package reader, which has the library read what an output holds
// before it is committed.
struct OutputFileAccess {
    // The sibling being written, open for writing by the output alone.
    static tstring sibling(const OutputFile& file);
};
