#pragma once

#include <cstddef>
#include <string>

// A mapped input that shrinks while it is read ends the tool with SIGBUS on
// the first page past its new end. This turns that into the tool's own
// failure: one line on standard error naming the file, every named
// temporary file removed, status 1. Everything the handler touches is set
// up beforehand, so that it only calls what a signal handler may.
namespace FaultGuard {

// Returns a ticket for forget(), or -1 when all places are taken (a fault
// in the mapping is then the system's own).
int watchMapping(const void* start, std::size_t size, const std::string& path);

// A file to remove when the tool ends by such a fault, or by SIGINT, SIGTERM
// or SIGHUP (which then end the tool as they would have: the handler removes
// the files and raises the signal again, with its usual action); its owner
// removes or keeps it otherwise. Returns a ticket for forget(), or -1.
int removeOnFault(const std::string& path);

// No longer watched or removed.
void forget(int ticket) noexcept;

// The line written for a file: "brumlet: 'path' changed while it was read".
std::string changedMessage(const std::string& path);

}  // namespace FaultGuard
