#pragma once

// The tool started by itself to run the installer library over one package
// (see PackageReader.h): an argument no help page lists, then the
// descriptors or handles of the package and of the pipe to answer on, which
// the starting tool passed down. Checked before the command line is parsed.
namespace ReaderMode {

constexpr const char* argument = "--brumlet-package-reader";

// The reader's exit status when its memory ran out under its limit. On
// Windows the reader's own ends take codes that no runtime and no exception
// uses (a status code's customer bit set): the C runtime's abort() exits
// with 3, a crash with its exception's code, and neither may read as one of
// these.
#ifdef _WIN32
constexpr int outOfMemory = static_cast<int>(0xB7E10001u);
// It has used up its processor time (secondsAllowed).
constexpr int outOfTime = static_cast<int>(0xB7E10002u);
// It could not write its answer, or not start the thread that reads.
constexpr int cannotAnswer = static_cast<int>(0xB7E10003u);
// Started by hand, with handles that are not what the tool passes.
constexpr int notStartedByTool = static_cast<int>(0xB7E10004u);
// It has been blocked for backstopSeconds.
constexpr int blocked = static_cast<int>(0xB7E10005u);
#else
constexpr int outOfMemory = 3;
#endif

// The reader's processor time in seconds: a reader that has used it up is
// ended as one that ran too long. Time it spends waiting or stopped (the
// tool suspended with it, a starved machine) does not count. The tests'
// build of the tool gives up sooner, so that a hang costs them less.
//
// A reader that neither uses the processor nor answers (blocked) is ended
// after backstopSeconds of the tool's waiting; the time the tool itself was
// stopped does not count either.
#ifdef BRUMLET_READER_HOOK
constexpr int secondsAllowed = 2;
constexpr int backstopSeconds = 4;
#else
constexpr int secondsAllowed = 10;
constexpr int backstopSeconds = 120;
#endif

bool requested(int argc, char** argv);

// Reads the package, answers through the pipe and returns the exit status.
int run(int argc, char** argv);

}  // namespace ReaderMode
