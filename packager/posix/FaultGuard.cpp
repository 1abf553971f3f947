#include "FaultGuard.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace FaultGuard {

namespace {

// Mappings and temporary files share the places; a ticket is an index.
struct Place {
    std::atomic<bool> used{false};
    bool mapping = false;
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    // The line (with its newline) or the path (NUL-terminated), owned here.
    std::atomic<char*> text{nullptr};
    std::size_t length = 0;
};

const int placeCount = 64;
Place places[placeCount];
std::mutex claiming;

void removeFiles() {
    for (const Place& place : places) {
        const char* path = place.text.load();
        if (place.used.load() && !place.mapping && path) {
            unlink(path);
        }
    }
}

void onBusError(int signal, siginfo_t* info, void*) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const Place* hit = nullptr;
    for (const Place& place : places) {
        if (place.used.load() && place.mapping && at >= place.start && at < place.end) {
            hit = &place;
        }
    }
    if (!hit) {
        // Not a file of the tool's: the fault runs its usual course when the
        // instruction runs again.
        struct sigaction plain = {};
        plain.sa_handler = SIG_DFL;
        sigaction(signal, &plain, nullptr);
        return;
    }
    const char* line = hit->text.load();
    std::size_t left = hit->length;
    while (line && left > 0) {
        const ssize_t written = write(STDERR_FILENO, line, left);
        if (written <= 0) {
            break;
        }
        line += written;
        left -= static_cast<std::size_t>(written);
    }
    removeFiles();
    _exit(1);
}

// Ctrl-C, a kill or a closed terminal: the files go, then the signal takes
// its usual course, so that the tool's parent sees how it ended.
void onEnd(int signal) {
    const int saved = errno;
    removeFiles();
    struct sigaction plain = {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(signal, &plain, nullptr);
    // Blocked while this runs: delivered, now with its usual action, on return.
    raise(signal);
    errno = saved;
}

void installHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action = {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        // Without the handler the fault stays the system's: no worse than before.
        sigaction(SIGBUS, &action, nullptr);
    });
}

void installEndHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now;
            // A signal the tool's parent has it ignore (nohup, a background
            // job) stays ignored.
            if (sigaction(signal, nullptr, &now) != 0 || now.sa_handler != SIG_DFL ||
                (now.sa_flags & SA_SIGINFO)) {
                continue;
            }
            struct sigaction action = {};
            action.sa_handler = onEnd;
            sigemptyset(&action.sa_mask);
            sigaddset(&action.sa_mask, SIGINT);
            sigaddset(&action.sa_mask, SIGTERM);
            sigaddset(&action.sa_mask, SIGHUP);
            sigaction(signal, &action, nullptr);
        }
    });
}

char* copyOf(const std::string& text) {
    char* copy = new char[text.size() + 1];
    memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

int claim(bool mapping, std::uintptr_t start, std::uintptr_t end, const std::string& text) {
    installHandler();
    const std::lock_guard<std::mutex> lock(claiming);
    for (int i = 0; i < placeCount; ++i) {
        Place& place = places[i];
        if (!place.used.load()) {
            place.mapping = mapping;
            place.start = start;
            place.end = end;
            place.length = text.size();
            place.text.store(copyOf(text));
            place.used.store(true);
            return i;
        }
    }
    return -1;
}

}  // namespace

std::string changedMessage(const std::string& path) {
    return "'" + path + "' changed while it was read";
}

int watchMapping(const void* start, std::size_t size, const std::string& path) {
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    return claim(true, at, at + size, "brumlet: " + changedMessage(path) + "\n");
}

int removeOnFault(const std::string& path) {
    installEndHandlers();
    return claim(false, 0, 0, path);
}

void forget(int ticket) noexcept {
    if (ticket < 0 || ticket >= placeCount) {
        return;
    }
    const std::lock_guard<std::mutex> lock(claiming);
    Place& place = places[ticket];
    place.used.store(false);
    delete[] place.text.exchange(nullptr);
}

}  // namespace FaultGuard
