#pragma once

// The tool started by itself to run the installer library over one package
// (see PackageReader.h): an argument no help page lists, then the
// descriptors or handles of the package and of the pipe to answer on, which
// the starting tool passed down. Checked before the command line is parsed.
namespace ReaderMode {

constexpr const char* argument = "--brumlet-package-reader";

// The reader's exit status when its memory ran out under its limit.
constexpr int outOfMemory = 3;

// The reader's processor time in seconds: a reader that has used it up is
// ended as one that ran too long. Time it spends waiting or stopped (the
// tool suspended with it, a starved machine) does not count. The tests'
// build of the tool gives up sooner, so that a hang costs them less.
//
// A reader that uses no processor time and does not answer (blocked) is
// ended after backstopSeconds of the tool's own waiting; the time the tool
// itself was stopped does not count either.
#ifdef BRUMLET_READER_HOOK
constexpr int secondsAllowed = 1;
constexpr int backstopSeconds = 5;
#else
constexpr int secondsAllowed = 10;
constexpr int backstopSeconds = 120;
#endif

bool requested(int argc, char** argv);

// Reads the package, answers through the pipe and returns the exit status.
int run(int argc, char** argv);

}  // namespace ReaderMode
