#pragma once

// The tool started by itself to run the installer library over one package
// (see PackageReader.h): an argument no help page lists, then the
// descriptors or handles of the package and of the pipe to answer on, which
// the starting tool passed down. Checked before the command line is parsed.
namespace ReaderMode {

constexpr const char* argument = "--brumlet-package-reader";

// The reader's exit status when its memory ran out under its limit.
constexpr int outOfMemory = 3;

// How long the tool waits for the answer before it ends the reader. The
// tests' build of the tool gives up sooner, so that a hang costs them less.
#ifdef BRUMLET_READER_HOOK
constexpr int secondsAllowed = 2;
#else
constexpr int secondsAllowed = 10;
#endif

bool requested(int argc, char** argv);

// Reads the package, answers through the pipe and returns the exit status.
int run(int argc, char** argv);

}  // namespace ReaderMode
