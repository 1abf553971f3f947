#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "PackageReader.h"

// Runs msi.dll over the package that `file` holds (exactly the package's
// bytes, open for reading and shared with readers only) where its failure
// cannot take the tool down: in brumlet.exe started again as the reader
// (ReaderMode), in a job that limits its memory and processor time and ends
// it with the tool (where the job does not hold, under Wine, the reader
// watches itself), handed a read-only handle to the file and a pipe to
// answer on. A reader that gives no answer is ended after
// ReaderMode::backstopSeconds.
namespace ReaderProcess {

PackageFacts read(HANDLE file, const std::string& label);

// The reader's committed memory, and the stack of the thread that reads.
extern const std::size_t memoryLimit;
extern const std::size_t stackSize;

}  // namespace ReaderProcess
